// Threaded timers: ticks come from a worker, run on the user-interface thread,
// keep to their grid, and disabling or destroying never deadlocks.
#include "threadedtimer.h"

#include "uisync.h"

#include "support/support.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace q274;
using namespace q274test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(NextTickDeadline, LateTickComesAtOnceOnceAndTheGridHolds)
{
    const auto t0 = Clock::time_point{} + 1000ms;
    EXPECT_EQ(NextTickDeadline(t0, 20ms, t0 + 5ms), t0 + 20ms);
    // Handler ran 19 ms: still the next grid point.
    EXPECT_EQ(NextTickDeadline(t0, 20ms, t0 + 19ms), t0 + 20ms);
    // The next point has just passed: due at once, not skipped.
    EXPECT_EQ(NextTickDeadline(t0, 20ms, t0 + 20ms), t0 + 20ms);
    EXPECT_EQ(NextTickDeadline(t0, 20ms, t0 + 27ms), t0 + 20ms);
    // Two points passed: one late tick (the last point), then back on the
    // grid; the missed one is not made up.
    EXPECT_EQ(NextTickDeadline(t0, 20ms, t0 + 45ms), t0 + 40ms);
    EXPECT_EQ(NextTickDeadline(t0 + 40ms, 20ms, t0 + 46ms), t0 + 60ms);
}

TEST(TThreadedTimer, FirstTickOneIntervalAfterEnablingOnUiThread)
{
    TThreadedTimer timer(100);
    std::thread::id ranOn;
    Clock::time_point first{};
    int ticks = 0;
    timer.OnTimer = [&] {
        if (ticks++ == 0) {
            first = Clock::now();
            ranOn = std::this_thread::get_id();
        }
    };
    Pump(30ms);
    EXPECT_EQ(ticks, 0); // disabled at creation
    const auto start = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return ticks >= 1; }));
    EXPECT_GE(first - start, 95ms);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(TThreadedTimer, TicksDoNotDriftWithHandlerTime)
{
    // Each tick's handler takes 20 ms of a 40 ms interval. A timer that
    // waited a full interval after each handler would need 20 x 10 = 200 ms
    // more for 10 ticks.
    TThreadedTimer timer(40, tpHigher);
    std::vector<Clock::time_point> at;
    timer.OnTimer = [&] {
        at.push_back(Clock::now());
        std::this_thread::sleep_for(20ms);
    };
    const auto start = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return at.size() >= 10; }));
    timer.SetEnabled(false);
    EXPECT_GE(at[9] - start, 395ms);
    for (size_t i = 1; i < at.size(); ++i)
        EXPECT_GE(at[i] - start, std::chrono::milliseconds(40 * (i + 1) - 5));
    // A drifting timer spaces every tick 60 ms apart. On a busy machine a
    // tick may be missed (the next one then comes 80 ms later), but most
    // ticks of a drift-free timer follow 40 ms after the one before.
    int onTime = 0;
    for (size_t i = 1; i < 10; ++i)
        onTime += (at[i] - at[i - 1]) < 55ms;
    EXPECT_GE(onTime, 5);
}

TEST(TThreadedTimer, OnDemandTicksOnlyWithDemandAndStaysOnItsGrid)
{
    TThreadedTimer timer(20);
    timer.SetOnDemand(true);
    std::vector<Clock::time_point> at;
    timer.OnTimer = [&] {
        at.push_back(Clock::now());
        timer.SetDemand(false); // the work is done
    };
    const auto start = Clock::now();
    timer.SetEnabled(true);
    Pump(100ms);
    EXPECT_TRUE(at.empty());

    const auto asked = Clock::now();
    timer.SetDemand(true);
    ASSERT_TRUE(WaitFor([&] { return at.size() == 1; }));
    // The first point of the grid after the demand, not at once.
    const auto grid = start + ((asked - start) / 20ms + 1) * 20ms;
    EXPECT_GE(at[0], grid - 1ms);
    Pump(60ms);
    EXPECT_EQ(at.size(), 1u);
    EXPECT_EQ(timer.TickCount(), 1u);

    timer.SetOnDemand(false);
    EXPECT_TRUE(WaitFor([&] { return at.size() >= 3; }));
}

TEST(TThreadedTimer, DisableDropsTicksAndReenableStartsFullInterval)
{
    TThreadedTimer timer(30);
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return ticks >= 2; }));
    timer.SetEnabled(false);
    const int seen = ticks;
    Pump(150ms);
    EXPECT_EQ(ticks, seen);

    timer.SetInterval(200);
    const auto start = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return ticks > seen; }));
    EXPECT_GE(Clock::now() - start, 195ms);
}

TEST(TThreadedTimer, TickQueuedForHandOffIsDroppedWhenDisabledMeanwhile)
{
    TThreadedTimer timer(10);
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    timer.SetEnabled(true);
    // Not running hand-offs: the worker's tick waits for this thread.
    std::this_thread::sleep_for(60ms);
    timer.SetEnabled(false);
    Pump(100ms);
    EXPECT_EQ(ticks, 0);
}

TEST(TThreadedTimer, RestartWhileTickPendingDropsItAndWaitsAFullInterval)
{
    TThreadedTimer timer(100);
    std::vector<Clock::time_point> at;
    timer.OnTimer = [&] { at.push_back(Clock::now()); };
    timer.SetEnabled(true);
    std::this_thread::sleep_for(150ms); // the first tick waits for this thread
    timer.SetEnabled(false);
    const auto restart = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return !at.empty(); }));
    EXPECT_GE(at.front() - restart, 95ms);
}

TEST(TThreadedTimer, OneShotDisablesItself)
{
    TThreadedTimer timer(20);
    int ticks = 0;
    timer.OnTimer = [&] {
        timer.SetEnabled(false);
        ++ticks;
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return ticks >= 1; }));
    Pump(120ms);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer.Enabled());
}

TEST(TThreadedTimer, HandlerMayStopAnotherTimer)
{
    TThreadedTimer a(20), b(15);
    int aTicks = 0, bTicks = 0;
    a.OnTimer = [&] {
        ++aTicks;
        b.SetEnabled(false);
        a.SetEnabled(false);
    };
    b.OnTimer = [&] { ++bTicks; };
    a.SetEnabled(true);
    b.SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return aTicks == 1; }));
    const int bSeen = bTicks;
    Pump(100ms);
    EXPECT_EQ(bTicks, bSeen);
}

TEST(TThreadedTimer, HandlerExceptionIsSwallowedAndTicksGoOn)
{
    TThreadedTimer timer(15);
    int ticks = 0;
    timer.OnTimer = [&] {
        ++ticks;
        throw std::runtime_error("handler failed");
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(WaitFor([&] { return ticks >= 3; }));
}

TEST(TThreadedTimer, DestroyWhileHandOffPendingDoesNotDeadlock)
{
    auto timer = std::make_unique<TThreadedTimer>(5);
    int ticks = 0;
    timer->OnTimer = [&] { ++ticks; };
    timer->SetEnabled(true);
    // Let the worker block in its hand-off to this (busy) thread.
    std::this_thread::sleep_for(50ms);
    timer.reset(); // must run the pending hand-off (dropped) and join
    EXPECT_EQ(ticks, 0);
}

TEST(TThreadedTimer, ManyTimersCreatedAndDestroyedWhileTicking)
{
    int ticks = 0;
    for (int round = 0; round < 5; ++round) {
        std::vector<std::unique_ptr<TThreadedTimer>> timers;
        for (int i = 0; i < 4; ++i) {
            timers.push_back(std::make_unique<TThreadedTimer>(3 + i, i % 2 ? tpHigher : tpNormal));
            timers.back()->OnTimer = [&] { ++ticks; };
            timers.back()->SetEnabled(true);
        }
        Pump(20ms);
    }
    EXPECT_GT(ticks, 0);
}
