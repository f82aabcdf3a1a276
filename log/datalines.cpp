#include "datalines.h"

#include "uisync.h"

#include <algorithm>
#include <chrono>

namespace q274 {
namespace {

// Leading and trailing blanks and control characters go.
QString TrimCaption(const QString &caption)
{
    qsizetype begin = 0;
    qsizetype end = caption.size();
    while (begin < end && caption.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && caption.at(end - 1).unicode() <= u' ')
        --end;
    return caption.mid(begin, end - begin);
}

} // namespace

QString ComposeDataFields(const std::array<QString, 4> &readoutCaptions)
{
    QString fields;
    for (const QString &caption : readoutCaptions) {
        QString value = TrimCaption(caption);
        // No reading: a field as wide as a short number keeps the columns.
        if (value.isEmpty() || value == QStringLiteral("-"))
            value = QStringLiteral("  -");
        fields += u'\t';
        fields += value;
    }
    return fields;
}

int StartAlignmentSleepMs(int wallMs)
{
    if (wallMs < 125)
        return 175 - wallMs;
    if (wallMs > 850)
        return 275;
    return 0;
}

bool DataLineDue(std::uint32_t tickNow, std::uint32_t referenceTick, std::int32_t interval)
{
    const std::uint32_t elapsed = tickNow - referenceTick; // modulo 2^32
    return std::int64_t(interval) - std::int64_t(elapsed) <= 45;
}

int DataLineWaitMs(std::uint32_t passTick, std::uint32_t referenceTick, std::int32_t interval)
{
    constexpr std::int64_t pass = DataLineWorker::kPassMs;
    const std::uint32_t elapsed = passTick - referenceTick; // modulo 2^32, as DataLineDue
    const std::int64_t untilDue = std::int64_t(interval) - 45 - std::int64_t(elapsed);
    const std::int64_t passes = untilDue <= pass ? 1 : (untilDue + pass - 1) / pass;
    return int(passes * pass);
}

int DataLineAlignmentMs(int wallMs, int referenceMs) { return wallMs + 2 < referenceMs ? referenceMs - wallMs : 0; }

PacingStep DataLinePacing(std::uint32_t tickNow, std::uint32_t referenceTick, std::int32_t interval, int wallMs,
                          int referenceMs)
{
    PacingStep step;
    step.Due = DataLineDue(tickNow, referenceTick, interval);
    if (step.Due)
        step.SleepMs = DataLineAlignmentMs(wallMs, referenceMs);
    return step;
}

DataLineClocks SystemClocks()
{
    DataLineClocks clocks;
    clocks.TickCount = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
    clocks.WallMillisecond = [] {
        // Time zones differ from UTC by whole minutes, so the millisecond of
        // the system clock is that of the local time.
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000);
    };
    return clocks;
}

DataLineWorker::DataLineWorker(std::function<void()> onLine, std::function<void(std::exception_ptr)> onError,
                               DataLineClocks clocks)
    : FOnLine(std::move(onLine)), FOnError(std::move(onError)), FClocks(std::move(clocks))
{
}

DataLineWorker::~DataLineWorker()
{
    Stop();
    WaitStopped();
}

int DataLineWorker::AlignFirstLine()
{
    const int held = StartAlignmentSleepMs(FClocks.WallMillisecond());
    if (held > 0) {
        if (FClocks.Sleep)
            FClocks.Sleep(held);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(held));
    }
    FReferenceMs.store(kAlignedMillisecond);
    return held;
}

void DataLineWorker::TakeReferenceTick() { SetReferenceTick(FClocks.TickCount()); }

void DataLineWorker::SetDataLineInterval(std::int32_t ms)
{
    if (FInterval.exchange(ms) != ms)
        PacingChanged();
}

void DataLineWorker::SetReferenceTick(std::uint32_t tick)
{
    if (FReferenceTick.exchange(tick) != tick)
        PacingChanged();
}

void DataLineWorker::PacingChanged()
{
    {
        std::lock_guard<std::mutex> lock(FSleepMutex);
        ++FPacingSeq;
    }
    FSleepWake.notify_all();
}

void DataLineWorker::Start()
{
    if (FRunning.load() && !FStop.load())
        return;
    if (FInHandOff.load()) {
        // The worker waits for this very call and tests its mark only
        // afterwards: clearing the mark keeps it running.
        FStop.store(false);
        return;
    }
    WaitStopped();
    FStop.store(false);
    FRunning.store(true);
    FThread = std::thread([this] { Run(); });
}

void DataLineWorker::Stop()
{
    {
        // Taken so a worker between its stop test and its wait cannot miss
        // the wake-up.
        std::lock_guard<std::mutex> lock(FSleepMutex);
        FStop.store(true);
    }
    FSleepWake.notify_all();
}

void DataLineWorker::WaitStopped()
{
    if (!FThread.joinable() || FInHandOff.load())
        return;
    UiSync::WaitUntil([this] { return !FRunning.load(); });
    FThread.join();
}

void DataLineWorker::Pause(int ms)
{
    if (FClocks.Sleep) {
        FClocks.Sleep(ms);
        return;
    }
    std::unique_lock<std::mutex> lock(FSleepMutex);
    FSleepWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStop.load(); });
}

void DataLineWorker::WaitForDuePass(std::uint32_t passTick)
{
    if (FClocks.Sleep) {
        FClocks.Sleep(DataLineWaitMs(passTick, FReferenceTick.load(), FInterval.load()));
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto origin = Clock::now();
    const auto pass = std::chrono::milliseconds(kPassMs);
    std::unique_lock<std::mutex> lock(FSleepMutex);
    auto wake = origin + std::chrono::milliseconds(DataLineWaitMs(passTick, FReferenceTick.load(), FInterval.load()));
    for (;;) {
        const std::uint64_t seen = FPacingSeq.load();
        if (!FSleepWake.wait_until(lock, wake, [&] { return FStop.load() || FPacingSeq.load() != seen; }))
            return;
        if (FStop.load())
            return;
        // A new interval or reference counts from the next pass on, as it
        // did when the worker looked every 30 ms.
        const auto nextPass = origin + ((Clock::now() - origin) / pass + 1) * pass;
        wake = std::max(
            nextPass,
            origin + std::chrono::milliseconds(DataLineWaitMs(passTick, FReferenceTick.load(), FInterval.load())));
    }
}

void DataLineWorker::CallOnUi(const std::function<void()> &fn)
{
    UiSync::Synchronize([this, &fn] {
        struct Mark {
            std::atomic<bool> &flag;
            explicit Mark(std::atomic<bool> &f) : flag(f) { flag.store(true); }
            ~Mark() { flag.store(false); }
        } mark(FInHandOff);
        fn();
    });
}

void DataLineWorker::HandOver()
{
    try {
        CallOnUi(FOnLine);
        ++FLines;
    } catch (...) {
        // A failed line or autosave must not end the pacing: report and go on.
        ++FErrors;
        if (!FOnError)
            return;
        const std::exception_ptr error = std::current_exception();
        try {
            CallOnUi([this, error] { FOnError(error); });
        } catch (...) {
            // The report itself failed; nothing is left to tell it to.
        }
    }
}

void DataLineWorker::Run()
{
    while (!FStop.load()) {
        // Rather than waking every 30 ms to check, sleep to the pass that
        // finds the line due: the same moment, without the wake-ups.
        WaitForDuePass(FClocks.TickCount());
        if (FStop.load())
            break;
        if (!DataLineDue(FClocks.TickCount(), FReferenceTick.load(), FInterval.load()))
            continue;
        const int wait = DataLineAlignmentMs(FClocks.WallMillisecond(), FReferenceMs.load());
        if (wait > 0)
            Pause(wait);
        FReferenceTick.store(FClocks.TickCount());
        // The port may have closed meanwhile: no line after a stop.
        if (FStop.load())
            break;
        if (!FFirstSamplePending.load() && FOnLine)
            HandOver();
    }
    FRunning.store(false);
    UiSync::Wake();
}

} // namespace q274
