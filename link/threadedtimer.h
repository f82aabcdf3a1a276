// A timer whose ticks come from its own worker thread and whose handler runs
// on the user-interface thread (through the blocking hand-off), so ticks stay
// regular while the event loop is busy and handlers need no locks.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace q274 {

enum TThreadPriority { tpNormal, tpHigher };

// The deadline of the tick after the one due at previous, on the grid
// previous + k * interval: previous + interval while that is still ahead of
// now. When the handing over or the handler ran past it, the last grid point
// not after now, which is due at once: a late tick comes late rather than
// not at all, missed ticks are not made up in a burst, and the tick after it
// is back on the grid.
std::chrono::steady_clock::time_point NextTickDeadline(std::chrono::steady_clock::time_point previous,
                                                       std::chrono::milliseconds interval,
                                                       std::chrono::steady_clock::time_point now);

class TThreadedTimer {
public:
    explicit TThreadedTimer(unsigned intervalMs = 1000, TThreadPriority priority = tpNormal);
    ~TThreadedTimer(); // stops the worker; from the UI thread it keeps running hand-offs meanwhile

    TThreadedTimer(const TThreadedTimer &) = delete;
    TThreadedTimer &operator=(const TThreadedTimer &) = delete;

    unsigned Interval() const { return FInterval.load(); }
    // A new interval while enabled starts a fresh full interval.
    void SetInterval(unsigned ms);

    bool Enabled() const { return FEnabled.load(); }
    // Enabling starts a full interval: the first tick comes one interval
    // later. Disabling drops any tick that falls due meanwhile, also one
    // already waiting for the user-interface thread.
    void SetEnabled(bool enabled);

    TThreadPriority Priority() const { return FPriority.load(); }
    // Best effort: a priority the system refuses is silently kept normal.
    void SetPriority(TThreadPriority priority);

    // Runs on the user-interface thread; set it there too. Exceptions it
    // throws are swallowed. It may enable or disable any timer, its own
    // included, but must not destroy its own timer.
    std::function<void()> OnTimer;

    // On demand (off by default): a timer whose ticks are of use only while
    // there is work for them, such as a command queued for the sender,
    // ticks only while Demand() is true. Without demand its worker sleeps
    // without waking; once demand comes back the next tick is the next point
    // of its grid, as if it had ticked idly all along.
    bool OnDemand() const { return FOnDemand.load(); }
    void SetOnDemand(bool onDemand);
    bool Demand() const { return FDemand.load(); }
    // Any thread; cheap when the value does not change.
    void SetDemand(bool demand);

    // Ticks delivered to OnTimer so far.
    std::uint64_t TickCount() const { return FTicks.load(); }

private:
    void Run();
    void Deliver(std::uint64_t generation);
    void ApplyPriority();

    std::mutex FMutex;
    std::condition_variable FWake;
    std::atomic<unsigned> FInterval;
    std::atomic<bool> FEnabled{false};
    std::atomic<TThreadPriority> FPriority;
    std::atomic<bool> FOnDemand{false};
    std::atomic<bool> FDemand{false};
    // Bumped by every enable and interval change; a tick of an older
    // generation is stale and dropped.
    std::atomic<std::uint64_t> FGeneration{0};
    std::chrono::steady_clock::time_point FStart; // guarded by FMutex
    std::atomic<bool> FStop{false};
    std::atomic<bool> FFinished{false};
    std::atomic<std::uint64_t> FTicks{0};
    std::thread FWorker;
};

} // namespace q274
