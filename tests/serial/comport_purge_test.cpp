// A one-sided purge on a real pseudo-terminal empties only its own queue:
// dropping stale replies must not lose a command on its way out, nor the
// reverse. A pseudo-terminal passes written bytes straight to the far end,
// so it holds no output to drop; the far end learns of each flush through
// packet mode instead (TIOCPKT_FLUSHREAD, TIOCPKT_FLUSHWRITE).
#include "comport.h"

#include "pty.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <sys/ioctl.h>

using namespace q274;
using namespace q274test;

namespace {

struct FarEnd {
    std::string Data;
    int Flushes = 0; // TIOCPKT_FLUSH* bits seen
};

// Reads the far end in packet mode until its data ends with `last`.
FarEnd ReadFarEnd(const Pty &pty, const std::string &last)
{
    FarEnd got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!got.Data.ends_with(last) && std::chrono::steady_clock::now() < end) {
        struct pollfd p {
            pty.master, POLLIN, 0
        };
        char buf[256];
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t r = ::read(pty.master, buf, sizeof buf);
        if (r > 0 && buf[0] == TIOCPKT_DATA)
            got.Data.append(buf + 1, std::size_t(r - 1));
        else if (r > 0)
            got.Flushes |= buf[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE);
    }
    return got;
}

// Both ways hold bytes: "far" from the far end waits for the port, "out"
// from the port waits unread at the far end.
std::unique_ptr<TComPort> OpenWithBytesBothWays(const Pty &pty)
{
    auto port = std::make_unique<TComPort>(nullptr);
    port->SetPort(QString::fromStdString(pty.slave));
    port->SetEvents(0);
    port->OpenPort();
    int on = 1;
    EXPECT_EQ(::ioctl(pty.master, TIOCPKT, &on), 0);
    pty.send("far");
    EXPECT_TRUE(WaitFor([&] { return port->PendingInput() == 3; }));
    EXPECT_EQ(port->WriteText("out"), 3);
    return port;
}

} // namespace

TEST(ComPortPurge, EachSideDropsOnlyItsOwnQueue)
{
    {
        SCOPED_TRACE("input only");
        Pty pty;
        auto port = OpenWithBytesBothWays(pty);
        port->PurgeBuffers(true, false);
        EXPECT_EQ(port->PendingInput(), 0);
        EXPECT_EQ(port->WriteText("end"), 3);
        const FarEnd got = ReadFarEnd(pty, "end");
        EXPECT_EQ(got.Data, "outend");
        EXPECT_EQ(got.Flushes, TIOCPKT_FLUSHREAD);
        // What comes after the purge is read whole.
        pty.send("new");
        ASSERT_TRUE(WaitFor([&] { return port->PendingInput() == 3; }));
        std::string s;
        EXPECT_EQ(port->ReadText(s, 10), 3);
        EXPECT_EQ(s, "new");
        port->ClosePort();
    }
    {
        SCOPED_TRACE("output only");
        Pty pty;
        auto port = OpenWithBytesBothWays(pty);
        port->PurgeBuffers(false, true);
        EXPECT_EQ(port->PendingInput(), 3);
        std::string s;
        EXPECT_EQ(port->ReadText(s, 10), 3);
        EXPECT_EQ(s, "far");
        EXPECT_EQ(port->WriteText("end"), 3);
        EXPECT_EQ(ReadFarEnd(pty, "end").Flushes, TIOCPKT_FLUSHWRITE);
        port->ClosePort();
    }
}
