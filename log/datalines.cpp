#include "datalines.h"

#include "uisync.h"

#include <chrono>

namespace q274 {
namespace {

// Leading and trailing blanks and control characters go.
QString trimCaption(const QString &caption)
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
        QString value = trimCaption(caption);
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

int DataLineAlignmentMs(int wallMs, int referenceMs)
{
    return wallMs + 2 < referenceMs ? referenceMs - wallMs : 0;
}

PacingStep DataLinePacing(std::uint32_t tickNow, std::uint32_t referenceTick, std::int32_t interval,
                          int wallMs, int referenceMs)
{
    PacingStep step;
    step.due = DataLineDue(tickNow, referenceTick, interval);
    if (step.due)
        step.sleepMs = DataLineAlignmentMs(wallMs, referenceMs);
    return step;
}

DataLineClocks SystemClocks()
{
    DataLineClocks clocks;
    clocks.tickCount = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
    clocks.wallMillisecond = [] {
        // Time zones differ from UTC by whole minutes, so the millisecond of
        // the system clock is that of the local time.
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000);
    };
    return clocks;
}

DataLineWorker::DataLineWorker(std::function<void()> onLine,
                               std::function<void(std::exception_ptr)> onError,
                               DataLineClocks clocks)
    : onLine_(std::move(onLine)), onError_(std::move(onError)), clocks_(std::move(clocks))
{
}

DataLineWorker::~DataLineWorker()
{
    Stop();
    WaitStopped();
}

int DataLineWorker::AlignFirstLine()
{
    const int held = StartAlignmentSleepMs(clocks_.wallMillisecond());
    if (held > 0) {
        if (clocks_.sleep)
            clocks_.sleep(held);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(held));
    }
    referenceMs_.store(AlignedMillisecond);
    return held;
}

void DataLineWorker::TakeReferenceTick()
{
    referenceTick_.store(clocks_.tickCount());
}

void DataLineWorker::Start()
{
    if (running_.load() && !stop_.load())
        return;
    if (inHandOff_.load()) {
        // The worker waits for this very call and tests its mark only
        // afterwards: clearing the mark keeps it running.
        stop_.store(false);
        return;
    }
    WaitStopped();
    stop_.store(false);
    running_.store(true);
    thread_ = std::thread([this] { run(); });
}

void DataLineWorker::Stop()
{
    {
        // Taken so a worker between its stop test and its wait cannot miss
        // the wake-up.
        std::lock_guard<std::mutex> lock(sleepMutex_);
        stop_.store(true);
    }
    sleepWake_.notify_all();
}

void DataLineWorker::WaitStopped()
{
    if (!thread_.joinable() || inHandOff_.load())
        return;
    UiSync::waitUntil([this] { return !running_.load(); });
    thread_.join();
}

void DataLineWorker::pause(int ms)
{
    if (clocks_.sleep) {
        clocks_.sleep(ms);
        return;
    }
    std::unique_lock<std::mutex> lock(sleepMutex_);
    sleepWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void DataLineWorker::callOnUi(const std::function<void()> &fn)
{
    UiSync::synchronize([this, &fn] {
        struct Mark {
            std::atomic<bool> &flag;
            explicit Mark(std::atomic<bool> &f) : flag(f) { flag.store(true); }
            ~Mark() { flag.store(false); }
        } mark(inHandOff_);
        fn();
    });
}

void DataLineWorker::handOver()
{
    try {
        callOnUi(onLine_);
        ++lines_;
    } catch (...) {
        // A failed line or autosave must not end the pacing: report and go on.
        ++errors_;
        if (!onError_)
            return;
        const std::exception_ptr error = std::current_exception();
        try {
            callOnUi([this, error] { onError_(error); });
        } catch (...) {
            // The report itself failed; nothing is left to tell it to.
        }
    }
}

void DataLineWorker::run()
{
    while (!stop_.load()) {
        pause(PassMs);
        if (!DataLineDue(clocks_.tickCount(), referenceTick_.load(), interval_.load()))
            continue;
        const int wait = DataLineAlignmentMs(clocks_.wallMillisecond(), referenceMs_.load());
        if (wait > 0)
            pause(wait);
        referenceTick_.store(clocks_.tickCount());
        // The port may have closed meanwhile: no line after a stop.
        if (stop_.load())
            break;
        if (!firstSamplePending_.load() && onLine_)
            handOver();
    }
    running_.store(false);
    UiSync::wake();
}

} // namespace q274
