// The blocking hand-off: calls run on the user-interface thread, errors travel
// back, and waiting for a worker that waits to hand off never deadlocks.
#include "uisync.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

#include <unistd.h>

using q274::UiSync;

TEST(UiSync, CallRunsOnUiThreadAndWorkerWaitsForIt)
{
    const auto uiId = std::this_thread::get_id();
    std::atomic<bool> finished{false};
    std::thread::id ranOn;
    int order = 0;
    std::thread worker([&] {
        UiSync::Synchronize([&] {
            ranOn = std::this_thread::get_id();
            order = 1;
        });
        order = order * 10 + 2; // runs only after the call completed
        finished = true;
        UiSync::Wake();
    });
    UiSync::WaitUntil([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(ranOn, uiId);
    EXPECT_EQ(order, 12);
}

TEST(UiSync, ExceptionIsCarriedBackToTheWorker)
{
    std::atomic<bool> finished{false};
    std::string caught;
    std::thread worker([&] {
        try {
            UiSync::Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error &e) {
            caught = e.what();
        }
        finished = true;
        UiSync::Wake();
    });
    UiSync::WaitUntil([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(caught, "boom");
}

TEST(UiSync, OnUiThreadRunsDirectly)
{
    int ran = 0;
    UiSync::Synchronize([&] { ++ran; });
    EXPECT_EQ(ran, 1);
}

TEST(UiSync, EventLoopRunsQueuedCallsWithoutExplicitWait)
{
    std::atomic<int> done{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            UiSync::Synchronize([&] { done.fetch_add(1); });
    });
    QTimer guard;
    guard.setSingleShot(true);
    // Poll from the event loop until the worker has handed off all its calls.
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done.load() == 50)
            QCoreApplication::exit(0);
    });
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    check.start(5);
    guard.start(20000);
    const int rc = QCoreApplication::exec();
    worker.join();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(done.load(), 50);
}

TEST(UiSync, ManyWorkersHandOffConcurrently)
{
    constexpr int kThreads = 4, kCalls = 200;
    int counter = 0; // touched only on the user-interface thread
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i)
                UiSync::Synchronize([&] { ++counter; });
            finished.fetch_add(1);
            UiSync::Wake();
        });
    UiSync::WaitUntil([&] { return finished.load() == kThreads; });
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(counter, kThreads * kCalls);
}

TEST(UiSync, PostedCallErrorGoesToTheErrorHandler)
{
    std::string seen;
    UiSync::SetErrorHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception &ex) {
            seen = ex.what();
        }
    });
    std::thread worker([] { UiSync::Post([] { throw std::runtime_error("posted"); }); });
    worker.join();
    UiSync::ProcessPending();
    UiSync::SetErrorHandler(nullptr);
    EXPECT_EQ(seen, "posted");
}

// Found when the X server went away under a connected window: exit() from
// the user-interface thread, with a worker still waiting for its call, must
// end the process rather than wait for the worker.
TEST(UiSyncDeathTest, ExitWithAWorkerWaitingEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::alarm(10); // a hang ends as SIGALRM, not as a stuck suite
            std::thread([] { UiSync::Synchronize([] {}); }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::exit(3);
        },
        testing::ExitedWithCode(3), "");
}
