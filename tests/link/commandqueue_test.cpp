// The stop-and-wait sender: one command per tick, only after an answer, and a
// status query behind every relay command.
#include "commandqueue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace q274;

namespace {

struct Port {
    std::vector<std::string> written;
    std::function<void(const std::string &)> writer()
    {
        return [this](const std::string &s) { written.push_back(s); };
    }
};

std::vector<std::string> items(const CommandSender &s) { return {s.Items().begin(), s.Items().end()}; }

} // namespace

TEST(CommandSender, NothingLeavesWhileDisconnectedEmptyOrOutstanding)
{
    CommandSender s;
    Port port;
    bool ready = true;
    EXPECT_FALSE(s.Tick(true, ready, port.writer())); // empty
    s.QueueCommand("T1");
    EXPECT_FALSE(s.Tick(false, ready, port.writer())); // closed port
    EXPECT_TRUE(ready);
    ready = false;
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(s.Tick(true, ready, port.writer()));
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(items(s), (std::vector<std::string>{"T1"}));
}

TEST(CommandSender, OneItemPerAnswerAndTick)
{
    CommandSender s;
    Port port;
    bool ready = true;
    s.QueueCommand("T0");
    s.QueueCommand("T1");
    s.QueueCommand("T1"); // duplicates are kept
    EXPECT_TRUE(s.Tick(true, ready, port.writer()));
    EXPECT_FALSE(ready);
    EXPECT_FALSE(s.Tick(true, ready, port.writer()));
    EXPECT_EQ(port.written, (std::vector<std::string>{"T0"}));
    ready = true; // a reply line arrived
    EXPECT_TRUE(s.Tick(true, ready, port.writer()));
    EXPECT_FALSE(s.Tick(true, ready, port.writer()));
    EXPECT_EQ(port.written, (std::vector<std::string>{"T0", "T1"}));
    EXPECT_EQ(items(s), (std::vector<std::string>{"T1"}));
}

TEST(CommandSender, RelayCommandsQueueStatusQueryBehindTheQueue)
{
    CommandSender s;
    Port port;
    bool ready = true;
    s.QueueCommand("N3");
    s.QueueCommand("T2");
    s.Tick(true, ready, port.writer());
    EXPECT_EQ(items(s), (std::vector<std::string>{"T2", "S0"}));
    for (int i = 0; i < 2; ++i) {
        ready = true;
        s.Tick(true, ready, port.writer());
    }
    // "T2" and "S0" add nothing.
    EXPECT_TRUE(s.Items().empty());
    EXPECT_EQ(port.written, (std::vector<std::string>{"N3", "T2", "S0"}));

    s.QueueCommand(" F1\t");
    ready = true;
    s.Tick(true, ready, port.writer());
    EXPECT_EQ(port.written.back(), "F1"); // written trimmed
    EXPECT_EQ(items(s), (std::vector<std::string>{"S0"}));
}

TEST(CommandSender, BlankItemCostsATickAndKeepsReady)
{
    CommandSender s;
    Port port;
    bool ready = true;
    s.QueueCommand("  \r\n");
    s.QueueCommand("T4");
    EXPECT_FALSE(s.Tick(true, ready, port.writer()));
    EXPECT_TRUE(ready);
    EXPECT_TRUE(port.written.empty());
    EXPECT_TRUE(s.Tick(true, ready, port.writer()));
    EXPECT_EQ(port.written, (std::vector<std::string>{"T4"}));
}

TEST(CommandSender, FailedWriteKeepsHeadAndStaysNotReady)
{
    CommandSender s;
    bool ready = true;
    s.QueueCommand("N1");
    s.QueueCommand("T1");
    auto failing = [](const std::string &) { throw std::runtime_error("write failed"); };
    EXPECT_THROW(s.Tick(true, ready, failing), std::runtime_error);
    EXPECT_FALSE(ready);
    EXPECT_EQ(items(s), (std::vector<std::string>{"N1", "T1"}));

    s.Clear();
    EXPECT_TRUE(s.Items().empty());
}

TEST(TemperatureRotation, CyclesAndResets)
{
    TemperatureRotation r;
    EXPECT_EQ(r.NextChannel(), 1);
    std::vector<std::string> got;
    for (int i = 0; i < 6; ++i)
        got.push_back(r.Next());
    EXPECT_EQ(got, (std::vector<std::string>{"T1", "T2", "T3", "T4", "T1", "T2"}));
    EXPECT_EQ(r.NextChannel(), 3);
    r.Reset();
    EXPECT_EQ(r.Next(), "T1");
}
