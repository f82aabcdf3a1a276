#include "threadedtimer.h"

#include "uisync.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace q274 {

TThreadedTimer::TThreadedTimer(unsigned intervalMs, TThreadPriority priority)
    : interval_(intervalMs), priority_(priority)
{
    worker_ = std::thread([this] { run(); });
}

TThreadedTimer::~TThreadedTimer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        enabled_ = false;
    }
    wake_.notify_all();
    // The worker may be waiting to hand a tick to this very thread: keep
    // running hand-offs until it has left.
    if (UiSync::isMainThread())
        UiSync::waitUntil([this] { return finished_.load(); });
    worker_.join();
}

void TThreadedTimer::SetInterval(unsigned ms)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (interval_.load() == ms)
            return;
        interval_ = ms;
        start_ = std::chrono::steady_clock::now();
        ++generation_;
    }
    wake_.notify_all();
}

void TThreadedTimer::SetEnabled(bool enabled)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (enabled_.load() == enabled)
            return;
        enabled_ = enabled;
        start_ = std::chrono::steady_clock::now();
        ++generation_;
    }
    wake_.notify_all();
}

void TThreadedTimer::SetPriority(TThreadPriority priority)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        priority_ = priority;
    }
    wake_.notify_all();
}

void TThreadedTimer::applyPriority()
{
    // A nicer value raises the priority under the normal scheduler; an
    // unprivileged process may not lower it below 0, so failures are
    // expected and ignored.
    const int nice = priority_.load() == tpHigher ? -5 : 0;
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, nice);
}

void TThreadedTimer::deliver(std::uint64_t generation)
{
    try {
        UiSync::synchronize([this, generation] {
            // Disabled, restarted or stopping since the worker queued this
            // tick: it is stale.
            if (stop_.load() || !enabled_.load() || generation_.load() != generation)
                return;
            ++ticks_;
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
    // Late ticks are skipped, not bunched: the next deadline is the first
    // one still ahead on the original grid.
    if (interval.count() > 0 && next <= now)
        next += ((now - next) / interval + 1) * interval;
    return next;
}

void TThreadedTimer::run()
{
    using Clock = std::chrono::steady_clock;
    TThreadPriority applied = priority_.load();
    applyPriority();

    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.load()) {
        if (!enabled_.load()) {
            wake_.wait(lock, [this] { return stop_.load() || enabled_.load(); });
            continue;
        }
        // A fresh run: deadlines are counted from the moment of enabling, so
        // time spent handing over or in the handler never shifts later
        // ticks.
        const std::uint64_t generation = generation_.load();
        const auto interval = std::chrono::milliseconds(interval_.load());
        if (interval.count() <= 0) {
            // Like a message-loop timer, an interval of 0 never ticks.
            wake_.wait(lock, [&] { return stop_.load() || generation_.load() != generation; });
            continue;
        }
        auto deadline = start_ + interval;
        while (!stop_.load() && enabled_.load() && generation_.load() == generation) {
            if (priority_.load() != applied) {
                applied = priority_.load();
                lock.unlock();
                applyPriority();
                lock.lock();
                continue;
            }
            if (wake_.wait_until(lock, deadline, [&] {
                    return stop_.load() || generation_.load() != generation
                        || priority_.load() != applied;
                }))
                continue;
            lock.unlock();
            deliver(generation);
            lock.lock();
            deadline = NextTickDeadline(deadline, interval, Clock::now());
        }
    }
    lock.unlock();
    finished_ = true;
    UiSync::wake();
}

} // namespace q274
