// Data lines of the log view and their pacing: the worker thread that writes
// a line about once a minute, nudged towards a fixed millisecond of the wall
// clock.
#pragma once

#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace q274 {

// TAB + value for each of the four read-out captions. A caption is trimmed
// of blanks and control characters; a channel without reading (" -") gives
// the three characters "  -".
QString ComposeDataFields(const std::array<QString, 4> &readoutCaptions);

// The hold before the first data line of a connection, from the millisecond
// of the wall clock: early in a second wait until about 175 ms, late in a
// second wait 275 ms into the next one.
int StartAlignmentSleepMs(int wallMs);

// The interval has (nearly) passed: due up to 45 ms early. The elapsed time
// is taken modulo 2^32, so the wrap-around of the tick counter is harmless.
bool DataLineDue(std::uint32_t tickNow, std::uint32_t referenceTick, std::int32_t interval);

// The wait that moves a due line later within its second, towards
// referenceMs; none when the clock is already within 2 ms of it or past it.
int DataLineAlignmentMs(int wallMs, int referenceMs);

struct PacingStep {
    bool Due = false;
    int SleepMs = 0; // alignment wait before the line, only when due
};

PacingStep DataLinePacing(std::uint32_t tickNow, std::uint32_t referenceTick, std::int32_t interval, int wallMs,
                          int referenceMs);

// The worker checks DataLineDue in passes 30 ms apart. From a pass at
// passTick, the time until the first later pass that finds the line due
// (one pass at least), so the worker can sleep straight to it.
int DataLineWaitMs(std::uint32_t passTick, std::uint32_t referenceTick, std::int32_t interval);

// The clocks the pacing reads. Ticks (for the interval) and the wall clock
// (for the millisecond) come from different sources.
struct DataLineClocks {
    std::function<std::uint32_t()> TickCount; // 32-bit millisecond counter
    std::function<int()> WallMillisecond;     // 0..999 of the local time
    // Sleeps the calling thread. Left empty, the worker sleeps itself and
    // wakes at once when it is told to stop.
    std::function<void(int ms)> Sleep;
};

// The monotonic millisecond counter (wrapping at 2^32) and the system clock.
DataLineClocks SystemClocks();

// Owns the worker thread that paces the data lines. The line callback (the
// window's LogTemperatures) and the error callback both run on the
// user-interface thread through UiSync::Synchronize.
//
// Start, Stop, WaitStopped, AlignFirstLine and the destructor belong to the
// user-interface thread.
class DataLineWorker {
public:
    static constexpr int kPassMs = 30;
    static constexpr std::int32_t kDefaultInterval = 60000;
    static constexpr int kAlignedMillisecond = 350;

    DataLineWorker(std::function<void()> onLine, std::function<void(std::exception_ptr)> onError,
                   DataLineClocks clocks = SystemClocks());
    ~DataLineWorker();

    DataLineWorker(const DataLineWorker &) = delete;
    DataLineWorker &operator=(const DataLineWorker &) = delete;

    // Values the worker reads on every pass. A new interval or reference
    // tick wakes a worker sleeping towards the line.
    std::int32_t DataLineInterval() const { return FInterval.load(); }
    void SetDataLineInterval(std::int32_t ms);
    int ReferenceMillisecond() const { return FReferenceMs.load(); }
    void SetReferenceMillisecond(int ms) { FReferenceMs.store(ms); }
    bool FirstSamplePending() const { return FFirstSamplePending.load(); }
    void SetFirstSamplePending(bool pending) { FFirstSamplePending.store(pending); }
    std::uint32_t ReferenceTick() const { return FReferenceTick.load(); }
    void SetReferenceTick(std::uint32_t tick);

    // The first line of a connection: holds the calling thread by
    // StartAlignmentSleepMs and sets ReferenceMillisecond to 350. Returns the
    // time held in milliseconds.
    int AlignFirstLine();
    // ReferenceTick := the tick count now.
    void TakeReferenceTick();

    // Starts the worker; nothing happens while one is running. A worker
    // that was told to stop but has not ended yet is waited for first (from
    // inside its own hand-off it simply carries on).
    void Start();
    // Marks the worker to stop and wakes it; returns at once. No line is
    // handed over after this.
    void Stop();
    // True from Start until the worker thread has left its loop.
    bool Running() const { return FRunning.load(); }
    // Waits for a stopped worker to end, running hand-offs meanwhile. From
    // inside the worker's own hand-off it returns at once (the worker is
    // waiting for that very call); the thread is joined later.
    void WaitStopped();

    // Lines handed over and hand-off errors since construction.
    int LinesHandedOver() const { return FLines.load(); }
    int HandOffErrors() const { return FErrors.load(); }

private:
    void Run();
    void Pause(int ms);
    void WaitForDuePass(std::uint32_t passTick);
    void PacingChanged();
    void HandOver();
    void CallOnUi(const std::function<void()> &fn);

    const std::function<void()> FOnLine;
    const std::function<void(std::exception_ptr)> FOnError;
    const DataLineClocks FClocks;

    std::atomic<std::int32_t> FInterval{kDefaultInterval};
    std::atomic<int> FReferenceMs{0};
    std::atomic<bool> FFirstSamplePending{false};
    std::atomic<std::uint32_t> FReferenceTick{0};

    std::atomic<bool> FStop{false};
    std::atomic<bool> FRunning{false};
    std::atomic<int> FLines{0};
    std::atomic<int> FErrors{0};
    std::atomic<bool> FInHandOff{false}; // a hand-off of this worker is running

    // Bumped when the interval or the reference changes, so a worker sleeping
    // towards a due moment works it out again.
    std::atomic<std::uint64_t> FPacingSeq{0};

    std::mutex FSleepMutex; // only for the wake-ups (stop, pacing changed)
    std::condition_variable FSleepWake;
    std::thread FThread;
};

} // namespace q274
