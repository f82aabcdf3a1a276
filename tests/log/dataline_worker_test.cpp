#include "datalines.h"

#include "uisync.h"

#include "support/support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace q274;
using namespace q274test;

namespace {

// Virtual time: only the worker's sleeps move it, so every reading is exact.
struct FakeClock {
    std::atomic<std::uint64_t> now{0};
    std::uint32_t tickBase = 0xFFFFF000u; // wraps after about 4 s
    int wallOffset = 0;
    std::function<void(int)> onSleep; // called before time moves

    std::uint32_t tick() const { return std::uint32_t(tickBase + now.load()); }
    int wallMs() const { return int((wallOffset + now.load()) % 1000); }

    DataLineClocks clocks()
    {
        DataLineClocks c;
        c.TickCount = [this] { return tick(); };
        c.WallMillisecond = [this] { return wallMs(); };
        c.Sleep = [this](int ms) {
            if (onSleep)
                onSleep(ms);
            now += std::uint64_t(ms);
            std::this_thread::yield();
        };
        return c;
    }
};

struct Line {
    std::uint32_t tick;
    int wallMs;
};

} // namespace

TEST(DataLineWorker, FirstLineAlignment)
{
    FakeClock clock;
    DataLineWorker worker([] {}, nullptr, clock.clocks());
    EXPECT_EQ(worker.ReferenceMillisecond(), 0);
    clock.wallOffset = 80;
    EXPECT_EQ(worker.AlignFirstLine(), 95);
    EXPECT_EQ(clock.wallMs(), 175);
    EXPECT_EQ(worker.ReferenceMillisecond(), 350);
    clock.wallOffset = 900 - int(clock.now.load() % 1000);
    EXPECT_EQ(worker.AlignFirstLine(), 275);
    EXPECT_EQ(clock.wallMs(), 175);
    worker.TakeReferenceTick();
    EXPECT_EQ(worker.ReferenceTick(), clock.tick());
}

TEST(DataLineWorker, LinesArrivePacedAndAlignedAcrossTickWrap)
{
    FakeClock clock;
    clock.wallOffset = 500;
    std::vector<Line> lines; // user-interface thread only
    DataLineWorker worker(
        [&] {
            EXPECT_TRUE(UiSync::IsMainThread());
            lines.push_back({clock.tick(), clock.wallMs()});
        },
        nullptr, clock.clocks());
    worker.SetDataLineInterval(1000);
    worker.SetReferenceMillisecond(350);
    worker.TakeReferenceTick();
    const std::uint32_t start = worker.ReferenceTick();
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return lines.size() >= 8; }, kPatience));
    worker.Stop();
    worker.WaitStopped();

    std::uint32_t previous = start;
    for (const Line &line : lines) {
        const std::uint32_t gap = line.tick - previous;
        EXPECT_GE(gap, 955u);
        EXPECT_LE(gap, 1000u + 30u + 350u);
        EXPECT_GE(line.wallMs, 348);
        previous = line.tick;
    }
    // A line past the mark is written at once, so the lines creep back in
    // 30 ms passes until one waits for the mark; from then on all hit it.
    const int expected[] = {460, 420, 380, 350, 350, 350, 350, 350};
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(lines[i].wallMs, expected[i]) << "line " << i;
    EXPECT_LT(lines.back().tick, start); // the counter wrapped meanwhile
}

TEST(DataLineWorker, StopEndsTheWorkerAndRestartWorks)
{
    FakeClock clock;
    std::atomic<int> count{0};
    DataLineWorker worker([&] { ++count; }, nullptr, clock.clocks());
    worker.SetDataLineInterval(200);
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return count.load() >= 3; }, kPatience));
    worker.Start(); // already running: nothing happens
    worker.Stop();
    worker.WaitStopped();
    EXPECT_FALSE(worker.Running());
    const int stoppedAt = count.load();
    const std::uint64_t frozen = clock.now.load();
    UiSync::ProcessPending();
    EXPECT_EQ(count.load(), stoppedAt);
    EXPECT_EQ(clock.now.load(), frozen); // no pass runs any more

    worker.Start();
    EXPECT_TRUE(WaitFor([&] { return count.load() >= stoppedAt + 3; }, kPatience));
    worker.Stop();
    worker.WaitStopped();
}

TEST(DataLineWorker, NoLineAfterStopEvenWhenDue)
{
    FakeClock clock;
    clock.wallOffset = 0;
    std::atomic<int> count{0};
    DataLineWorker *self = nullptr;
    // The stop arrives while the due line waits for its millisecond.
    clock.onSleep = [&](int ms) {
        if (ms != DataLineWorker::kPassMs)
            self->Stop();
    };
    DataLineWorker worker([&] { ++count; }, nullptr, clock.clocks());
    self = &worker;
    worker.SetDataLineInterval(100);
    worker.SetReferenceMillisecond(999);
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return !worker.Running(); }, kPatience));
    worker.WaitStopped();
    EXPECT_EQ(count.load(), 0);
}

TEST(DataLineWorker, NothingWrittenWhileFirstSamplePending)
{
    FakeClock clock;
    std::atomic<int> count{0};
    DataLineWorker worker([&] { ++count; }, nullptr, clock.clocks());
    worker.SetDataLineInterval(100);
    worker.SetFirstSamplePending(true);
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return clock.now.load() > 1000; }, kPatience));
    EXPECT_EQ(count.load(), 0);
    EXPECT_NE(worker.ReferenceTick(), 0u); // pacing went on meanwhile
    worker.SetFirstSamplePending(false);
    EXPECT_TRUE(WaitFor([&] { return count.load() >= 2; }, kPatience));
}

TEST(DataLineWorker, FailingLineIsReportedAndPacingGoesOn)
{
    FakeClock clock;
    std::atomic<int> calls{0};
    std::vector<std::string> reports; // user-interface thread only
    DataLineWorker worker(
        [&] {
            if (++calls <= 2)
                throw std::runtime_error("Cannot create file \"/x/y.log\". Permission denied");
        },
        [&](std::exception_ptr error) {
            EXPECT_TRUE(UiSync::IsMainThread());
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                reports.push_back(e.what());
            }
            throw std::logic_error("the report itself fails"); // must not stop the worker
        },
        clock.clocks());
    worker.SetDataLineInterval(100);
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return calls.load() >= 5; }, kPatience));
    EXPECT_TRUE(worker.Running());
    worker.Stop();
    worker.WaitStopped();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Cannot create file \"/x/y.log\". Permission denied");
    EXPECT_EQ(worker.HandOffErrors(), 2);
    EXPECT_GE(worker.LinesHandedOver(), 3);
}

TEST(DataLineWorker, SystemClocksStopWakesTheSleepingWorker)
{
    std::atomic<int> count{0};
    DataLineWorker worker([&] { ++count; }, nullptr);
    worker.SetDataLineInterval(60000);
    worker.TakeReferenceTick();
    worker.Start();
    EXPECT_TRUE(worker.Running());
    worker.Stop();
    EXPECT_TRUE(WaitFor([&] { return !worker.Running(); }, kPatience));
    worker.WaitStopped();
    EXPECT_EQ(count.load(), 0);
}

TEST(DataLineWorker, SystemClocksShorterIntervalWakesTheSleepingWorker)
{
    std::atomic<int> count{0};
    DataLineWorker worker([&] { ++count; }, nullptr);
    worker.SetDataLineInterval(60000);
    worker.TakeReferenceTick();
    worker.Start();
    Pump(std::chrono::milliseconds(50)); // asleep towards the minute by now
    worker.SetDataLineInterval(100);
    EXPECT_TRUE(WaitFor([&] { return count.load() >= 1; }, kPatience));
    worker.Stop();
    worker.WaitStopped();
}

TEST(DataLineWorker, DestructionStopsARunningWorker)
{
    FakeClock clock;
    std::atomic<int> count{0};
    {
        DataLineWorker worker([&] { ++count; }, nullptr, clock.clocks());
        worker.SetDataLineInterval(100);
        worker.Start();
        ASSERT_TRUE(WaitFor([&] { return count.load() >= 1; }, kPatience));
    }
    const int after = count.load();
    UiSync::ProcessPending();
    EXPECT_EQ(count.load(), after);
}

TEST(DataLineWorker, StopAndWaitFromInsideTheLineDoNotDeadlock)
{
    FakeClock clock;
    std::atomic<int> count{0};
    DataLineWorker *self = nullptr;
    DataLineWorker worker(
        [&] {
            ++count;
            self->Stop();        // the port closed while the line was written
            self->WaitStopped(); // must not wait for the worker that waits for us
        },
        nullptr, clock.clocks());
    self = &worker;
    worker.SetDataLineInterval(100);
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return !worker.Running(); }, kPatience));
    worker.WaitStopped();
    EXPECT_EQ(count.load(), 1);
}

TEST(DataLineWorker, RestartFromInsideTheLineKeepsTheWorker)
{
    FakeClock clock;
    std::atomic<int> count{0};
    DataLineWorker *self = nullptr;
    DataLineWorker worker(
        [&] {
            if (++count == 1) {
                self->Stop();
                self->Start(); // a reconnection within the same hand-off
            }
        },
        nullptr, clock.clocks());
    self = &worker;
    worker.SetDataLineInterval(100);
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return count.load() >= 3; }, kPatience));
    EXPECT_TRUE(worker.Running());
}
