#include "threadedtimer.h"

#include "uisync.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace q274 {

TThreadedTimer::TThreadedTimer(unsigned intervalMs, TThreadPriority priority)
    : FInterval(intervalMs), FPriority(priority)
{
    FWorker = std::thread([this] { Run(); });
}

TThreadedTimer::~TThreadedTimer()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStop = true;
        FEnabled = false;
    }
    FWake.notify_all();
    // The worker may be waiting to hand a tick to this very thread: keep
    // running hand-offs until it has left.
    if (UiSync::IsMainThread())
        UiSync::WaitUntil([this] { return FFinished.load(); });
    FWorker.join();
}

void TThreadedTimer::SetInterval(unsigned ms)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FInterval.load() == ms)
            return;
        FInterval = ms;
        FStart = std::chrono::steady_clock::now();
        ++FGeneration;
    }
    FWake.notify_all();
}

void TThreadedTimer::SetEnabled(bool enabled)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FEnabled.load() == enabled)
            return;
        FEnabled = enabled;
        FStart = std::chrono::steady_clock::now();
        ++FGeneration;
    }
    FWake.notify_all();
}

void TThreadedTimer::SetPriority(TThreadPriority priority)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FPriority = priority;
    }
    FWake.notify_all();
}

void TThreadedTimer::SetOnDemand(bool onDemand)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FOnDemand = onDemand;
    }
    FWake.notify_all();
}

void TThreadedTimer::SetDemand(bool demand)
{
    if (FDemand.load() == demand)
        return;
    {
        // Under the lock, so a worker between its test and its wait cannot
        // miss the change.
        std::lock_guard<std::mutex> lock(FMutex);
        FDemand = demand;
    }
    if (demand)
        FWake.notify_all();
}

void TThreadedTimer::ApplyPriority()
{
    // A nicer value raises the priority under the normal scheduler; an
    // unprivileged process may not lower it below 0, so failures are
    // expected and ignored.
    const int nice = FPriority.load() == tpHigher ? -5 : 0;
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, nice);
}

void TThreadedTimer::Deliver(std::uint64_t generation)
{
    try {
        UiSync::Synchronize([this, generation] {
            // Disabled, restarted or stopping since the worker queued this
            // tick: it is stale.
            if (FStop.load() || !FEnabled.load() || FGeneration.load() != generation)
                return;
            ++FTicks;
            if (!OnTimer)
                return;
            try {
                OnTimer();
            } catch (...) {
                // Handler failures are not the timer's to report.
            }
        });
    } catch (...) {
    }
}

std::chrono::steady_clock::time_point NextTickDeadline(std::chrono::steady_clock::time_point previous,
                                                       std::chrono::milliseconds interval,
                                                       std::chrono::steady_clock::time_point now)
{
    auto next = previous + interval;
    if (interval.count() > 0 && next <= now)
        next += (now - next) / interval * interval;
    return next;
}

namespace {

// The first point of the grid through deadline that lies after now.
std::chrono::steady_clock::time_point GridPointAfter(std::chrono::steady_clock::time_point deadline,
                                                     std::chrono::milliseconds interval,
                                                     std::chrono::steady_clock::time_point now)
{
    if (deadline > now)
        return deadline;
    return deadline + ((now - deadline) / interval + 1) * interval;
}

} // namespace

void TThreadedTimer::Run()
{
    using Clock = std::chrono::steady_clock;
    TThreadPriority applied = FPriority.load();
    ApplyPriority();

    std::unique_lock<std::mutex> lock(FMutex);
    while (!FStop.load()) {
        if (!FEnabled.load()) {
            FWake.wait(lock, [this] { return FStop.load() || FEnabled.load(); });
            continue;
        }
        // A fresh run: deadlines are counted from the moment of enabling, so
        // time spent handing over or in the handler never shifts later
        // ticks.
        const std::uint64_t generation = FGeneration.load();
        const auto interval = std::chrono::milliseconds(FInterval.load());
        if (interval.count() <= 0) {
            // Like a message-loop timer, an interval of 0 never ticks.
            FWake.wait(lock, [&] { return FStop.load() || FGeneration.load() != generation; });
            continue;
        }
        auto deadline = FStart + interval;
        while (!FStop.load() && FEnabled.load() && FGeneration.load() == generation) {
            if (FPriority.load() != applied) {
                applied = FPriority.load();
                lock.unlock();
                ApplyPriority();
                lock.lock();
                continue;
            }
            if (FOnDemand.load() && !FDemand.load()) {
                // Nothing to tick for: sleep until there is, then resume on
                // the grid.
                FWake.wait(lock, [&] {
                    return FStop.load() || FGeneration.load() != generation || FPriority.load() != applied
                           || FDemand.load() || !FOnDemand.load();
                });
                deadline = GridPointAfter(deadline, interval, Clock::now());
                continue;
            }
            if (FWake.wait_until(lock, deadline, [&] {
                    return FStop.load() || FGeneration.load() != generation || FPriority.load() != applied
                           || (FOnDemand.load() && !FDemand.load());
                }))
                continue;
            lock.unlock();
            Deliver(generation);
            lock.lock();
            deadline = NextTickDeadline(deadline, interval, Clock::now());
        }
    }
    lock.unlock();
    FFinished = true;
    UiSync::Wake();
}

} // namespace q274
