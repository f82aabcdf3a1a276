// The port on real pseudo-terminals: the port opens the slave side, the test
// plays the other end on the master.
#include "comport.h"
#include "comthread.h"
#include "termiosmap.h"
#include "uisync.h"

#include "pty.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace q274;
using namespace q274test;
using namespace std::chrono_literals;

namespace {

int countEntries(const char *dir)
{
    int n = 0;
    if (DIR *d = opendir(dir)) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

std::unique_ptr<TComPort> makePort(const Pty &pty, TComEvents events = kAllComEvents)
{
    auto port = std::make_unique<TComPort>(nullptr);
    port->SetPort(QString::fromStdString(pty.slave));
    port->SetEvents(events);
    return port;
}

void recordOpenClose(TComPort &port, std::vector<std::string> &log)
{
    port.OnBeforeOpen = [&](TCustomComPort &) { log.push_back("BeforeOpen"); };
    port.OnAfterOpen = [&](TCustomComPort &) { log.push_back("AfterOpen"); };
    port.OnBeforeClose = [&](TCustomComPort &p) {
        log.push_back(p.Connected() ? "BeforeClose" : "BeforeClose(closed!)");
    };
    port.OnAfterClose = [&](TCustomComPort &p) { log.push_back(p.Connected() ? "AfterClose(open!)" : "AfterClose"); };
    port.OnCTSChange = [&](TCustomComPort &, bool on) { log.push_back(on ? "CTS+" : "CTS-"); };
    port.OnDSRChange = [&](TCustomComPort &, bool on) { log.push_back(on ? "DSR+" : "DSR-"); };
    port.OnRLSDChange = [&](TCustomComPort &, bool on) { log.push_back(on ? "RLSD+" : "RLSD-"); };
}

using Log = std::vector<std::string>;

// Without running hand-offs: true once the event thread has started handing
// a batch over, so that delivery waits for the user-interface thread.
bool handedOver(const TComPort &port)
{
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (port.EventThread()->LastBatch() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    return port.EventThread()->LastBatch() != 0;
}

} // namespace

TEST(ComPortPty, OpenCloseHandlerOrderAndExclusiveUse)
{
    Pty pty;
    auto port = makePort(pty);
    Log log;
    recordOpenClose(*port, log);
    port->OpenPort();
    EXPECT_TRUE(port->Connected());
    EXPECT_GE(port->Handle(), 0);
    EXPECT_NE(port->EventThread(), nullptr);
    EXPECT_EQ(log, (Log{"BeforeOpen", "AfterOpen", "CTS-", "DSR-", "RLSD-"})); // a pty has no modem lines
    port->OpenPort();                                                          // already open: nothing
    EXPECT_EQ(log.size(), 5u);

    auto second = makePort(pty);
    try {
        second->OpenPort();
        ADD_FAILURE() << "second opener succeeded";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 1);
        EXPECT_TRUE(e.SystemErrorCode() == EWOULDBLOCK || e.SystemErrorCode() == EBUSY) << e.what();
    }
    EXPECT_FALSE(second->Connected());

    // Setting SyncMethod while open is refused and keeps the old value.
    try {
        port->SetSyncMethod(smNone);
        ADD_FAILURE() << "sync method changed while open";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 14);
        EXPECT_EQ(e.SystemErrorCode(), -1);
    }
    EXPECT_EQ(port->SyncMethod(), smThreadSync);

    log.clear();
    port->ClosePort();
    EXPECT_EQ(log, (Log{"CTS-", "DSR-", "RLSD-", "BeforeClose", "AfterClose"}));
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(port->Handle(), -1);
    port->ClosePort(); // already closed: nothing
    EXPECT_EQ(log.size(), 5u);

    second->OpenPort(); // free again after the close
    EXPECT_TRUE(second->Connected());
}

TEST(ComPortPty, UnknownPortFailsWithCodeOneAndStaysClosed)
{
    TComPort port(nullptr);
    port.SetPort(QStringLiteral("/dev/q274-no-such-port"));
    Log log;
    recordOpenClose(port, log);
    try {
        port.OpenPort();
        ADD_FAILURE() << "opened a missing port";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 1);
        EXPECT_EQ(e.SystemErrorCode(), ENOENT);
        EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: " + std::to_string(ENOENT) + ")");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log, (Log{"BeforeOpen"}));
}

TEST(ComPortPty, SettersReachTheOpenDeviceOnceAndBracketDefers)
{
    struct Counting : TComPort {
        int effective = 0, all = 0;
        void ApplyLineSettings() override
        {
            if (SettingsApplicable())
                ++effective;
            TComPort::ApplyLineSettings();
        }
        void ApplyAllSettings() override
        {
            ++all;
            TComPort::ApplyAllSettings();
        }
    };
    Pty pty;
    Counting port;
    port.SetPort(QString::fromStdString(pty.slave));
    port.SetEvents(0);
    port.OpenPort();
    EXPECT_EQ(port.effective, 1); // the open applies everything once
    port.SetBaudRate(br19200);
    EXPECT_EQ(port.effective, 2);
    struct termios t {};
    ASSERT_EQ(tcgetattr(port.Handle(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    port.SetBaudRate(br19200);
    EXPECT_EQ(port.effective, 2);

    port.BeginSettingsUpdate();
    port.SetBaudRate(br57600);
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetCheck(true);
    EXPECT_EQ(port.effective, 2);
    port.EndSettingsUpdate();
    EXPECT_EQ(port.effective, 3); // one configuration at the end
    ASSERT_EQ(tcgetattr(port.Handle(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B57600));

    // A rate without a B* constant goes through BOTHER and works on a pty;
    // a standard rate after it sets the input speed too.
    port.SetBaudRate(br14400);
    EXPECT_EQ(port.effective, 4);
    int in = 0, out = 0;
    ASSERT_TRUE(GetBaudRates2(port.Handle(), in, out));
    EXPECT_EQ(in, 14400);
    EXPECT_EQ(out, 14400);
    // A line format Linux cannot do fails with code 7 and keeps the port open.
    try {
        port.SetStopBits(sbOne5StopBits);
        ADD_FAILURE() << "1.5 stop bits with 8 data bits accepted";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 7);
    }
    EXPECT_EQ(port.StopBits(), sbOne5StopBits);
    EXPECT_TRUE(port.Connected());
    port.SetStopBits(sbOneStopBit);
    port.SetBaudRate(br9600);
    ASSERT_TRUE(GetBaudRates2(port.Handle(), in, out));
    EXPECT_EQ(in, 9600);
    EXPECT_EQ(out, 9600);
    port.ClosePort();
}

TEST(ComPortPty, WriteAndReadExactBytes)
{
    Pty pty;
    auto port = makePort(pty, 0);
    port->OpenPort();
    EXPECT_EQ(port->WriteText(""), 0);
    const std::string cmd("T1\r\0\xff", 5);
    EXPECT_EQ(port->WriteText(cmd), 5);
    EXPECT_EQ(pty.receive(5), cmd);

    std::string s = "junk";
    EXPECT_EQ(port->ReadText(s, 10), 0); // nothing arrived: returns at once
    EXPECT_TRUE(s.empty());

    const std::string reply("25.5\r\n\0\xfe", 8);
    pty.send(reply);
    ASSERT_TRUE(WaitFor([&] { return port->PendingInput() == 8; }));
    s = "junk";
    EXPECT_EQ(port->ReadText(s, 0), 0);
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(port->ReadText(s, 3), 3);
    EXPECT_EQ(s, "25.");
    EXPECT_EQ(port->PendingInput(), 5);
    EXPECT_EQ(port->ReadText(s, 100), 5); // more than arrived: only what was there
    EXPECT_EQ(s, reply.substr(3));
    EXPECT_EQ(port->PendingInput(), 0);

    pty.send("xyz");
    ASSERT_TRUE(WaitFor([&] { return port->PendingInput() == 3; }));
    port->PurgeBuffers(true, true);
    EXPECT_EQ(port->PendingInput(), 0);
    EXPECT_EQ(port->ModemSignals(), 0); // a pty has no modem lines
    port->ClosePort();
}

TEST(ComPortPty, WriteTimeoutGivesShortCount)
{
    Pty pty;
    auto port = makePort(pty, 0);
    port->Timeouts().SetWriteTotalMultiplier(0);
    port->Timeouts().SetWriteTotalConstant(100);
    port->OpenPort();
    const std::string big(1 << 20, 'x'); // far more than a pty buffers; nobody reads
    const int n = port->WriteText(big);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, int(big.size()));
    port->ClosePort();
}

TEST(ComPortPty, DeliverEventsInFixedOrder)
{
    Pty pty;
    auto port = makePort(pty, 0);
    port->OpenPort();
    Log log;
    port->OnError = [&](TCustomComPort &, TComErrors) { log.push_back("Error"); };
    port->OnRxChar = [&](TCustomComPort &, int n) { log.push_back("Rx" + std::to_string(n)); };
    port->OnTxEmpty = [&](TCustomComPort &) { log.push_back("TxEmpty"); };
    port->OnBreak = [&](TCustomComPort &) { log.push_back("Break"); };
    port->OnRing = [&](TCustomComPort &) { log.push_back("Ring"); };
    port->OnCTSChange = [&](TCustomComPort &, bool) { log.push_back("CTS"); };
    port->OnDSRChange = [&](TCustomComPort &, bool) { log.push_back("DSR"); };
    port->OnRxFlag = [&](TCustomComPort &) { log.push_back("RxFlag"); };
    port->OnRLSDChange = [&](TCustomComPort &, bool) { log.push_back("RLSD"); };
    port->OnRx80Full = [&](TCustomComPort &) { log.push_back("Rx80Full"); };

    port->DeliverEvents(kAllComEvents); // no bytes, no line errors
    EXPECT_EQ(log, (Log{"TxEmpty", "Break", "Ring", "CTS", "DSR", "RxFlag", "RLSD", "Rx80Full"}));

    pty.send("abcd");
    ASSERT_TRUE(WaitFor([&] { return port->PendingInput() == 4; }));
    log.clear();
    port->DeliverEvents(ComEventBit(evRxChar) | ComEventBit(evError) | ComEventBit(evBreak));
    EXPECT_EQ(log, (Log{"Rx4", "Break"}));

    // A close from a handler ends the batch and completes afterwards.
    log.clear();
    bool afterClose = false;
    port->OnAfterClose = [&](TCustomComPort &) { afterClose = true; };
    port->OnRxChar = [&](TCustomComPort &p, int) {
        log.push_back("Rx");
        p.ClosePort();
        log.push_back(p.Connected() ? "still open" : "closed");
    };
    port->DeliverEvents(ComEventBit(evRxChar) | ComEventBit(evBreak));
    EXPECT_EQ(log, (Log{"Rx", "still open"}));
    ASSERT_TRUE(WaitFor([&] { return afterClose; }));
    EXPECT_FALSE(port->Connected());
}

TEST(ComPortPty, RxCharReachesHandlerOnUiThread)
{
    Pty pty;
    auto port = makePort(pty);
    std::string got;
    int calls = 0;
    bool onUi = true;
    port->OnRxChar = [&](TCustomComPort &p, int count) {
        ++calls;
        onUi = onUi && UiSync::IsMainThread();
        std::string s;
        EXPECT_EQ(p.ReadText(s, count), count);
        got += s;
    };
    port->OpenPort();
    pty.send("?Temperature\r\n");
    ASSERT_TRUE(WaitFor([&] { return got.size() >= 14; }));
    EXPECT_EQ(got, "?Temperature\r\n");
    EXPECT_TRUE(onUi);
    EXPECT_GE(calls, 1);

    // Bytes a handler leaves unread are not reported again, but new ones are.
    int counts = 0;
    int lastCount = 0;
    port->OnRxChar = [&](TCustomComPort &, int count) {
        ++counts;
        lastCount = count;
    };
    pty.send("ab");
    ASSERT_TRUE(WaitFor([&] { return counts >= 1; }));
    EXPECT_EQ(lastCount, 2);
    const int after = counts;
    pty.send("c");
    ASSERT_TRUE(WaitFor([&] { return counts > after; }));
    EXPECT_EQ(lastCount, 3);
    port->ClosePort();
}

TEST(ComPortPty, ThrowingHandlerEndsThreadUntilReopen)
{
    Pty pty;
    auto port = makePort(pty);
    int calls = 0;
    port->OnRxChar = [&](TCustomComPort &p, int count) {
        ++calls;
        std::string s;
        p.ReadText(s, count);
        throw std::runtime_error("bad reply");
    };
    port->OpenPort();
    pty.send("1");
    ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
    ASSERT_TRUE(WaitFor([&] { return port->EventThread()->Finished(); }));
    EXPECT_TRUE(port->EventThread()->EndedByError());
    pty.send("2");
    EXPECT_FALSE(WaitFor([&] { return calls > 1; }, 200ms)); // no more events
    EXPECT_TRUE(port->Connected());

    port->ClosePort();
    port->OpenPort();
    pty.send("3");
    ASSERT_TRUE(WaitFor([&] { return calls == 2; }));
    port->ClosePort();
}

TEST(ComPortPty, CloseFromButtonRunsQueuedDeliveryFirst)
{
    Pty pty;
    auto port = makePort(pty);
    Log log;
    recordOpenClose(*port, log);
    port->OnRxChar = [&](TCustomComPort &p, int count) {
        log.push_back(p.Connected() && p.Handle() >= 0 ? "Rx" + std::to_string(count) : "Rx(closed!)");
    };
    port->OpenPort();
    log.clear();
    pty.send("abc");
    ASSERT_TRUE(handedOver(*port));
    port->ClosePort();
    EXPECT_EQ(log, (Log{"CTS-", "DSR-", "RLSD-", "BeforeClose", "Rx3", "AfterClose"}));
}

TEST(ComPortPty, HangUpReportsOneIoErrorThenStaysQuiet)
{
    Pty pty;
    auto port = makePort(pty);
    int ioErrors = 0, otherErrors = 0;
    port->OnError = [&](TCustomComPort &, TComErrors e) {
        if (e & ceIO)
            ++ioErrors;
        if (e & ~ceIO)
            ++otherErrors;
    };
    port->OpenPort();
    pty.closeMaster();
    ASSERT_TRUE(WaitFor([&] { return ioErrors >= 1; }));

    struct rusage before {
    }, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto wallStart = std::chrono::steady_clock::now();
    WaitFor([] { return false; }, 1s);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    getrusage(RUSAGE_SELF, &after);
    auto sec = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    const double cpu = sec(after.ru_utime) - sec(before.ru_utime) + sec(after.ru_stime) - sec(before.ru_stime);
    EXPECT_LT(cpu / wall, 0.05) << "cpu " << cpu << " s in " << wall << " s";
    EXPECT_EQ(ioErrors, 1);
    EXPECT_EQ(otherErrors, 0);

    // The dead port still closes, also with a purge before the close.
    port->OnBeforeClose = [](TCustomComPort &p) { p.PurgeBuffers(true, true); };
    port->ClosePort();
    EXPECT_FALSE(port->Connected());
}

TEST(ComPortPty, CloseRequestedFromOnErrorCompletes)
{
    Pty pty;
    auto port = makePort(pty);
    Log log;
    recordOpenClose(*port, log);
    port->OnBeforeClose = [&](TCustomComPort &p) {
        p.PurgeBuffers(true, true); // what the board connection does
        log.push_back("BeforeClose");
    };
    port->OnError = [&](TCustomComPort &p, TComErrors) {
        log.push_back("Error");
        p.ClosePort();
    };
    port->OpenPort();
    log.clear();
    pty.closeMaster();
    ASSERT_TRUE(WaitFor([&] { return !port->Connected(); }));
    EXPECT_EQ(log, (Log{"Error", "CTS-", "DSR-", "RLSD-", "BeforeClose", "AfterClose"}));
    EXPECT_EQ(port->EventThread(), nullptr);

    // The port can be opened again on a fresh line.
    Pty again;
    port->SetPort(QString::fromStdString(again.slave));
    port->OpenPort();
    EXPECT_TRUE(port->Connected());
    port->ClosePort();
}

// The board vanishes while a receive delivery waits for the user-interface
// thread; the delivery's queue query, or the handler's read, then finds the
// line hung up. Either way: one I/O error, nothing for the general error
// handler, and the close asked for by the error handler completes.
TEST(ComPortPty, HangUpWhileDeliveryWaitsIsOneIoErrorAndCloses)
{
    for (const bool readInHandler : {false, true}) {
        SCOPED_TRACE(readInHandler ? "read in handler" : "queue query");
        Pty pty;
        auto port = makePort(pty);
        int ioErrors = 0, otherErrors = 0, readCode = 0, readSystemCode = 0, general = 0;
        UiSync::SetErrorHandler([&](std::exception_ptr) { ++general; });
        port->OnError = [&](TCustomComPort &p, TComErrors e) {
            (e == ceIO ? ioErrors : otherErrors)++;
            p.ClosePort(); // what the board connection does when told to stop on errors
        };
        if (readInHandler)
            port->OnRxChar = [&](TCustomComPort &p, int count) {
                pty.closeMaster();
                std::string s;
                try {
                    p.ReadText(s, count);
                } catch (const EComPort &e) {
                    readCode = e.PortErrorCode();
                    readSystemCode = e.SystemErrorCode();
                    throw; // like the board connection, which lets it pass
                }
            };
        port->OpenPort();
        pty.send("?");
        ASSERT_TRUE(handedOver(*port));
        if (!readInHandler)
            pty.closeMaster();
        EXPECT_TRUE(WaitFor([&] { return !port->Connected(); }));
        UiSync::SetErrorHandler(nullptr);
        EXPECT_EQ(ioErrors, 1);
        EXPECT_EQ(otherErrors, 0);
        EXPECT_EQ(general, 0);
        EXPECT_EQ(port->EventThread(), nullptr);
        if (readInHandler) {
            EXPECT_EQ(readCode, 3);
            EXPECT_EQ(readSystemCode, EIO);
        }
    }
}

TEST(ComPortPty, DeferredCloseNeverHitsALaterSession)
{
    Pty pty;
    auto port = makePort(pty, 0);
    int afterClose = 0;
    port->OnAfterClose = [&](TCustomComPort &) { ++afterClose; };
    port->OnRxChar = [&](TCustomComPort &p, int) {
        p.ClosePort(); // deferred until the delivery returned
        EXPECT_TRUE(p.Connected());
    };
    port->OpenPort();
    pty.send("x");
    ASSERT_TRUE(WaitFor([&] { return port->PendingInput() == 1; }));
    port->DeliverEvents(ComEventBit(evRxChar));
    EXPECT_TRUE(port->Connected());
    // The button closes and reopens before the deferred close got its turn.
    port->ClosePort();
    EXPECT_EQ(afterClose, 1);
    port->OpenPort();
    UiSync::ProcessPending();
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(afterClose, 1);
    port->ClosePort();
    EXPECT_EQ(afterClose, 2);
}

TEST(ComPortPty, ManyOpenCloseCyclesLeakNothing)
{
    Pty pty;
    auto port = makePort(pty);
    port->OpenPort();
    port->ClosePort();
    const int fds = countEntries("/proc/self/fd");
    const int tasks = countEntries("/proc/self/task");
    for (int i = 0; i < 200; ++i) {
        port->OpenPort();
        port->ClosePort();
    }
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    EXPECT_TRUE(WaitFor([&] { return countEntries("/proc/self/task") <= tasks; }, 5s));
}

TEST(ComPortPty, WindowSyncQueuesEventsAndSkipsThemAfterClose)
{
    Pty pty;
    auto port = makePort(pty);
    port->SetSyncMethod(smWindowSync);
    std::string got;
    port->OnRxChar = [&](TCustomComPort &p, int count) {
        EXPECT_TRUE(UiSync::IsMainThread());
        std::string s;
        p.ReadText(s, count);
        got += s;
    };
    port->OpenPort();
    pty.send("hello");
    ASSERT_TRUE(WaitFor([&] { return got.size() >= 5; }));
    EXPECT_EQ(got, "hello");
    port->ClosePort();
}

TEST(ComPortPty, OpenInsideUpdateBracketIsRawAtOnce)
{
    Pty pty;
    auto port = makePort(pty, 0);
    port->BeginSettingsUpdate(); // as the setup dialog's port change does
    port->OpenPort();
    struct termios t {};
    ASSERT_EQ(tcgetattr(port->Handle(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    port->EndSettingsUpdate();
    port->ClosePort();
}

TEST(ComPortPty, EventThreadDiscardsQueuedInputWhenItEnds)
{
    Pty pty;
    auto port = makePort(pty);
    int reported = 0;
    port->OnRxChar = [&](TCustomComPort &, int) { ++reported; }; // reads nothing
    port->OpenPort();
    pty.send("abc");
    ASSERT_TRUE(WaitFor([&] { return reported > 0; }));
    port->ClosePort();
    // A pty keeps its input queue across opens: only a purge empties it.
    port->SetEvents(0);
    port->OpenPort();
    EXPECT_EQ(port->PendingInput(), 0);
    port->ClosePort();
}

// With smNone the handlers run on the event thread. Destroying the open port
// while that thread is between two handler calls must stop the thread before
// the object is torn down (ThreadSanitizer reports the race otherwise).
TEST(ComPortPty, DestroyingOpenPortWithSmNoneStopsThreadFirst)
{
    Pty pty;
    auto port = makePort(pty);
    port->SetSyncMethod(smNone);
    port->Buffer().SetInputSize(2); // one waiting byte also reports rx-80%-full
    std::atomic<bool> inHandler{false}, release{false};
    auto spinUntil = [](const std::atomic<bool> &flag) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!flag.load() && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
        return flag.load();
    };
    port->OnRxChar = [&](TCustomComPort &, int) {
        inHandler = true;
        spinUntil(release);
    };
    port->OnRx80Full = [](TCustomComPort &) {};
    port->OpenPort();
    pty.send("x");
    ASSERT_TRUE(spinUntil(inHandler));
    release = true;
    port.reset();
}
