// Polling without a window: the timers' commands, stop and wait over a line
// that only records what is written, and the reset at every connection end.
#include "poller.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace q274;

namespace {

struct FakeLine {
    bool open = true;
    std::vector<std::string> written;
    TPoller::Line line()
    {
        return {[this] { return open; }, [this](const std::string &c) { written.push_back(c); }};
    }
};

std::vector<std::string> Queue(const TPoller &p)
{
    return {p.CommandQueue.Items().begin(), p.CommandQueue.Items().end()};
}

using Q = std::vector<std::string>;

} // namespace

TEST(Poller, TimersQueueTheirCommandsAtTheirIntervals)
{
    FakeLine fake;
    TPoller p(fake.line());
    // Sender, identification follow-up, rotation, status after the first reading.
    EXPECT_EQ(p.tmrQ->Interval(), 75u);
    EXPECT_EQ(p.tmrTStatus->Interval(), 250u);
    EXPECT_EQ(p.tmrTemp->Interval(), 900u);
    EXPECT_EQ(p.tmrRStatus->Interval(), 200u);

    p.BoardIdentified();
    EXPECT_TRUE(p.tmrTStatus->Enabled());
    EXPECT_FALSE(p.RoutesTemperature(QStringLiteral("T124.06")));
    p.tmrTStatusTimer();
    EXPECT_FALSE(p.tmrTStatus->Enabled());
    EXPECT_TRUE(p.tmrTemp->Enabled());
    EXPECT_TRUE(p.RoutesTemperature(QStringLiteral("T124.06")));
    EXPECT_FALSE(p.RoutesTemperature(QStringLiteral("S005")));
    for (int i = 0; i < 5; ++i)
        p.tmrTempTimer();
    EXPECT_EQ(Queue(p), (Q{"T0", "T1", "T2", "T3", "T4", "T1"}));
    EXPECT_EQ(p.NextChannel(), 2);

    p.FirstReadingShown();
    p.tmrRStatusTimer();
    EXPECT_FALSE(p.tmrRStatus->Enabled());
    EXPECT_EQ(Queue(p).back(), "S0");
}

TEST(Poller, StopAndWaitFromTheFirstByteOfEveryConnection)
{
    FakeLine fake;
    TPoller p(fake.line());
    p.LineReceived(); // an answer of an earlier connection
    p.ConnectionOpened();
    p.QueueCommand("N1");
    p.tmrQTimer();
    EXPECT_TRUE(fake.written.empty()) << "nothing may leave before the first answer";

    p.LineReceived();
    p.tmrQTimer();
    p.tmrQTimer(); // "S0" follows the relay command, but only after an answer
    EXPECT_EQ(fake.written, Q{"N1"});
    p.LineReceived();
    p.tmrQTimer();
    EXPECT_EQ(fake.written, (Q{"N1", "S0"}));
}

TEST(Poller, SenderHasDemandExactlyWhileCommandsAreQueued)
{
    FakeLine fake;
    TPoller p(fake.line());
    EXPECT_TRUE(p.tmrQ->OnDemand());
    EXPECT_FALSE(p.tmrQ->Demand());
    p.QueueCommand("T1");
    EXPECT_TRUE(p.tmrQ->Demand());
    p.tmrQTimer(); // unanswered yet: the command waits, and so does the demand
    EXPECT_TRUE(p.tmrQ->Demand());
    p.LineReceived();
    p.tmrQTimer();
    EXPECT_EQ(fake.written, Q{"T1"});
    EXPECT_FALSE(p.tmrQ->Demand());
    p.QueueCommand("N1");
    p.ConnectionClosed();
    EXPECT_FALSE(p.tmrQ->Demand());

    TPoller failing({[] { return true; }, [](const std::string &) { throw std::runtime_error("EIO"); }});
    failing.LineReceived();
    failing.QueueCommand("T2");
    EXPECT_THROW(failing.tmrQTimer(), std::runtime_error);
    EXPECT_TRUE(failing.tmrQ->Demand()) << "a failed write keeps the command queued";
}

TEST(Poller, ConnectionEndStopsPollingAndEmptiesTheQueue)
{
    FakeLine fake;
    TPoller p(fake.line());
    int stops = 0;
    p.OnPollingStopped = [&] { ++stops; };
    p.BoardIdentified();
    p.StartTemperaturePolling();
    p.FirstReadingShown();
    p.tmrTempTimer();
    p.tmrTempTimer();

    p.ConnectionClosed();
    EXPECT_EQ(stops, 1);
    for (const auto &t : {p.tmrTStatus.get(), p.tmrTemp.get(), p.tmrRStatus.get()})
        EXPECT_FALSE(t->Enabled());
    EXPECT_FALSE(p.TemperaturesEnabled);
    EXPECT_TRUE(Queue(p).empty());
    p.StartTemperaturePolling();
    p.tmrTempTimer();
    EXPECT_EQ(Queue(p), Q{"T1"});
}
