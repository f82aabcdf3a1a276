// The board connection: reply routing, line errors under the three policies,
// and the conversation over a real pseudo-terminal with a scripted board.
#include "dmq274.h"
#include "rstrings.h"
#include "timestamp.h"
#include "uisync.h"

#include "support/support.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace q274;
using namespace q274test;

namespace {

struct FakeHost : TdmQ274Host {
    QStringList log;
    QStringList relayStatus, temperatures;
    int connected = 0, disconnected = 0, identified = 0;
    std::function<void(const QString &)> onTemperature;

    void LogMessage(const QString &text) override { log << text; }
    void ShowConnected() override
    {
        ++connected;
        log << QStringLiteral("<connected>");
    }
    void ShowDisconnected() override
    {
        ++disconnected;
        log << QStringLiteral("<disconnected>");
    }
    void ShowRelayStatus(const QString &s) override { relayStatus << s; }
    void HandleTemperatureReply(const QString &line) override
    {
        temperatures << line;
        if (onTemperature)
            onTemperature(line);
    }
    void BoardIdentified() override { ++identified; }
};

QString M(const QString &text) { return MessageIndent + text; }

// Documents folder in a throw-away home, so creating the log folder touches
// nothing real.
class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        dm = std::make_unique<TdmQ274>();
        dm->SetHost(&host);
    }
    void TearDown() override
    {
        dm.reset();
        qputenv("HOME", oldHome);
    }
    QTemporaryDir home;
    QByteArray oldHome;
    FakeHost host;
    std::unique_ptr<TdmQ274> dm;
};

} // namespace

TEST_F(BoardTest, StartsWithTheStoredConfiguration)
{
    EXPECT_EQ(dm->ErrorPolicy(), QStringLiteral("StopOnErrors"));
    EXPECT_FALSE(dm->ComPort()->Connected());
    EXPECT_EQ(dm->ComPort()->Port(), QStringLiteral("COM1"));
    EXPECT_EQ(EventsToMask(dm->ComPort()->Events()), 0x00DBu);
    EXPECT_EQ(dm->Watchdog().interval(), 10000);
    EXPECT_TRUE(dm->LogFolder().endsWith(QStringLiteral("/Q274")));
    EXPECT_TRUE(QDir(dm->LogFolder()).exists());
}

TEST_F(BoardTest, IdentificationIsLoggedOnceAndOnlyWhenAwaited)
{
    dm->SetAwaitingIdentification(true);
    dm->ProcessReply(QStringLiteral("xx?Temperature Monitor & Controller v2.1"));
    EXPECT_EQ(host.log, (QStringList{M(QStringLiteral("Temperature Monitor & Controller v2.1")), M(rs::sQ274Found)}));
    EXPECT_EQ(host.identified, 1);
    EXPECT_FALSE(dm->AwaitingIdentification());

    host.log.clear();
    dm->ProcessReply(QStringLiteral("?Temperature Monitor & Controller v2.1"));
    EXPECT_EQ(host.log, QStringList{M(rs::sDataError)});
    EXPECT_EQ(host.identified, 1);
}

TEST_F(BoardTest, RoutesStatusAndTemperatureLines)
{
    dm->ProcessReply(QStringLiteral("S005"));
    EXPECT_EQ(host.relayStatus, QStringList{QStringLiteral("05")});

    // Temperatures are dropped silently until polling runs.
    dm->ProcessReply(QStringLiteral("T124.06"));
    EXPECT_TRUE(host.temperatures.isEmpty());
    EXPECT_TRUE(host.log.isEmpty());

    dm->Poller().TemperaturesEnabled = true;
    dm->ProcessReply(QStringLiteral("T124.06"));
    dm->ProcessReply(QStringLiteral("T024.06,22.12,?,?"));
    EXPECT_EQ(host.temperatures, (QStringList{QStringLiteral("T124.06"), QStringLiteral("T024.06,22.12,?,?")}));

    // A line may match more than one test.
    host.relayStatus.clear();
    host.temperatures.clear();
    dm->ProcessReply(QStringLiteral("S0T1"));
    EXPECT_EQ(host.relayStatus, QStringList{QStringLiteral("T1")});
    EXPECT_EQ(host.temperatures, QStringList{QStringLiteral("S0T1")});

    // Anything else is not examined.
    host.log.clear();
    dm->ProcessReply(QStringLiteral("N1"));
    EXPECT_TRUE(host.log.isEmpty());
}

TEST(LineErrors, LastPresentConditionWins)
{
    EXPECT_EQ(LineErrorMessage(ceOverrun | ceFrame), rs::sErrOverrun);
    EXPECT_EQ(LineErrorMessage(ceFrame), rs::sErrFrame);
    EXPECT_EQ(LineErrorMessage(ceRxParity), rs::sErrParity);
    EXPECT_EQ(LineErrorMessage(ceMode | ceIO | ceRxParity), rs::sErrMode);
    EXPECT_EQ(LineErrorMessage(ceBreak | ceTxFull | ceRxOver), rs::sErrBreak);
    EXPECT_EQ(LineErrorMessage(ceIO), rs::sErrIO);
}

TEST_F(BoardTest, ErrorPoliciesOnAClosedPort)
{
    const QString line = M(QStringLiteral("  COM port:  The hardware detected a Frame error."));
    dm->SetErrorPolicy(kErrorPolicyHide);
    dm->ComPortError(ceFrame);
    EXPECT_TRUE(host.log.isEmpty());
    EXPECT_EQ(dm->PortErrorText(), QStringLiteral("COM port:  The hardware detected a Frame error."));

    dm->SetErrorPolicy(QStringLiteral("logerrorsandcontinue")); // compared exactly: hides
    dm->ComPortError(ceFrame);
    EXPECT_TRUE(host.log.isEmpty());

    dm->SetErrorPolicy(kErrorPolicyLog);
    dm->ComPortError(ceFrame);
    EXPECT_EQ(host.log, QStringList{line});

    host.log.clear();
    dm->SetErrorPolicy(kErrorPolicyStop);
    dm->ComPortError(ceFrame);
    EXPECT_EQ(host.log, QStringList{line});
    EXPECT_EQ(host.disconnected, 0); // nothing to close
}

// ---------------------------------------------------------------------------
// Over a real pseudo-terminal; the test plays the board on the master side.

namespace {

class PtyBoardTest : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slavePath = QString::fromLocal8Bit(ptsname(master));
        // Keep a slave descriptor so closing the port is not a hang-up.
        keeper = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(keeper, 0);
        termios t{};
        tcgetattr(keeper, &t);
        cfmakeraw(&t);
        tcsetattr(keeper, TCSANOW, &t);
        dm->ComPort()->SetPort(slavePath);
    }
    void TearDown() override
    {
        if (dm && dm->ComPort()->Connected())
            dm->ComPort()->ClosePort();
        if (keeper >= 0)
            ::close(keeper);
        if (master >= 0)
            ::close(master);
        BoardTest::TearDown();
    }

    std::string readMaster(int ms = 2000)
    {
        std::string got;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.assign(buf, size_t(n));
        }
        return got;
    }

    void writeMaster(const std::string &s) { ASSERT_EQ(::write(master, s.data(), s.size()), ssize_t(s.size())); }

    int master = -1, keeper = -1;
    QString slavePath;
};

} // namespace

TEST_F(PtyBoardTest, ConnectIdentifiesTheBoard)
{
    dm->ToggleConnection();
    ASSERT_TRUE(dm->ComPort()->Connected());
    EXPECT_EQ(readMaster(), "?");
    EXPECT_TRUE(dm->Watchdog().isActive());
    EXPECT_TRUE(dm->AwaitingIdentification());

    // The reply arrives in three pieces; only the last holds the line end.
    writeMaster("?Tempera");
    RunUntil([&] { return !dm->ReplyBuffer().Buffer().isEmpty(); }, 5s);
    EXPECT_FALSE(dm->Poller().ReadyToSend) << "a piece of a reply must not let the next command go";
    writeMaster("ture Monitor & Controller v2.1");
    writeMaster("\r\n");
    ASSERT_TRUE(RunUntil([&] { return host.identified == 1; }, 5s));
    EXPECT_EQ(host.log, (QStringList{QStringLiteral("<connected>"), M(rs::sConnecting),
                                     M(QStringLiteral("Temperature Monitor & Controller v2.1")), M(rs::sQ274Found)}));
    EXPECT_TRUE(dm->Poller().ReadyToSend);
    EXPECT_TRUE(dm->Watchdog().isActive());

    // Connect while connected disconnects at once, without a question.
    dm->ToggleConnection();
    EXPECT_FALSE(dm->ComPort()->Connected());
    EXPECT_EQ(host.disconnected, 1);
    EXPECT_FALSE(dm->Watchdog().isActive());

    // The next connection waits for its own first answer before sending.
    dm->ToggleConnection();
    EXPECT_FALSE(dm->Poller().ReadyToSend);
    EXPECT_EQ(dm->Watchdog().timerType(), Qt::PreciseTimer);
}

TEST_F(PtyBoardTest, SilentBoardEndsWithTheWatchdog)
{
    dm->SetWatchdogInterval(200);
    dm->ToggleConnection();
    ASSERT_TRUE(RunUntil([&] { return host.disconnected == 1; }, 5s));
    EXPECT_EQ(host.log, (QStringList{QStringLiteral("<connected>"), M(rs::sConnecting), M(rs::sCouldNotConnect),
                                     M(rs::sClosingPort), QStringLiteral("<disconnected>")}));
    EXPECT_FALSE(dm->ComPort()->Connected());
}

TEST_F(PtyBoardTest, BoardSilentAfterItsFirstLineEndsWithTheWatchdog)
{
    dm->SetWatchdogInterval(200);
    dm->ToggleConnection();
    readMaster();
    writeMaster("?Temperature X\r\n");
    ASSERT_TRUE(RunUntil([&] { return host.disconnected == 1; }, 5s));
    EXPECT_EQ(host.identified, 1);
    EXPECT_EQ(host.log.mid(host.log.size() - 3),
              (QStringList{M(rs::sCouldNotConnect), M(rs::sClosingPort), QStringLiteral("<disconnected>")}));
}

namespace {
// A port whose driver error counters a test moves; a pseudo-terminal keeps none.
class CountingPort : public TComPort {
public:
    std::atomic<int> frame{0}, parity{0}, overrun{0};
    ~CountingPort() override { CloseOnDestroy(); }

protected:
    int ReadLineCounters(int, LineCounters &c) override
    {
        c = {frame.load(), parity.load(), overrun.load(), 0, 0, 0};
        return 0;
    }
};
} // namespace

TEST_F(PtyBoardTest, LineErrorsFromTheDriverCountersFollowThePolicy)
{
    auto *port = new CountingPort;
    dm = std::make_unique<TdmQ274>(nullptr, port);
    dm->SetHost(&host);
    dm->ComPort()->SetPort(slavePath);
    dm->SetErrorPolicy(kErrorPolicyLog);
    dm->ToggleConnection();
    readMaster();
    const QString prefix = M(QStringLiteral("  ") + rs::sComPortPrefix + QStringLiteral("  "));

    // Parity is not checked on this port: only the overrun is reported.
    port->parity += 1;
    port->overrun += 1;
    ASSERT_TRUE(RunUntil([&] { return host.log.contains(prefix + rs::sErrOverrun); }, 5s));
    EXPECT_EQ(host.log.filter(rs::sComPortPrefix).size(), 1);
    EXPECT_TRUE(dm->ComPort()->Connected());

    dm->SetErrorPolicy(kErrorPolicyStop);
    port->frame += 1;
    ASSERT_TRUE(RunUntil([&] { return host.disconnected == 1; }, 5s));
    EXPECT_EQ(host.log.filter(rs::sComPortPrefix).last(), prefix + rs::sErrFrame);
}

TEST_F(PtyBoardTest, AFailingLineIsReportedAndReceivingGoesOn)
{
    dm->Poller().TemperaturesEnabled = true;
    host.onTemperature = [](const QString &line) {
        if (line.contains(QStringLiteral("bad")))
            throw std::runtime_error("not a number");
    };
    dm->ToggleConnection();
    readMaster();
    writeMaster("T1bad\r");
    ASSERT_TRUE(RunUntil([&] { return host.log.contains(M(rs::sDataError)); }, 5s));
    writeMaster("T224.00\r");
    ASSERT_TRUE(RunUntil([&] { return host.temperatures.size() == 2; }, 5s));
    EXPECT_TRUE(dm->ComPort()->Connected());
    EXPECT_TRUE(dm->Watchdog().isActive());
}

TEST_F(PtyBoardTest, EndlessLineWithoutLineEndIsDropped)
{
    dm->ToggleConnection();
    readMaster();
    const std::string junk(1000, 'x');
    for (int i = 0; i < 5; ++i)
        writeMaster(junk);
    ASSERT_TRUE(RunUntil([&] { return host.log.contains(M(rs::sDataError)); }, 5s));
    EXPECT_LE(dm->ReplyBuffer().Buffer().size(), ReplyAssembler::kMaxLength);
    writeMaster("?Temperature X\n");
    ASSERT_TRUE(RunUntil([&] { return host.identified == 1; }, 5s));
}

TEST_F(PtyBoardTest, UnfinishedLineDoesNotSurviveAReconnect)
{
    dm->ToggleConnection();
    readMaster();
    writeMaster("S0"); // no line end
    ASSERT_TRUE(RunUntil([&] { return !dm->ReplyBuffer().Buffer().isEmpty(); }, 5s));
    dm->ToggleConnection();
    dm->ToggleConnection();
    EXPECT_TRUE(dm->ReplyBuffer().Buffer().isEmpty());
    readMaster();
    writeMaster("?Temperature X\r\n");
    ASSERT_TRUE(RunUntil([&] { return host.identified == 1; }, 5s));
    EXPECT_TRUE(host.relayStatus.isEmpty());
}

TEST_F(PtyBoardTest, HangUpIsAnIoErrorThatStopsTheConnection)
{
    dm->ToggleConnection();
    readMaster();
    ::close(keeper);
    keeper = -1;
    ::close(master);
    master = -1;
    ASSERT_TRUE(RunUntil([&] { return host.disconnected == 1; }, 5s));
    EXPECT_TRUE(host.log.contains(M(QStringLiteral("  COM port:  ") + rs::sErrIO)));
    EXPECT_LT(host.log.indexOf(M(QStringLiteral("  COM port:  ") + rs::sErrIO)),
              host.log.indexOf(QStringLiteral("<disconnected>")));
    EXPECT_FALSE(dm->ComPort()->Connected());
}

TEST_F(PtyBoardTest, LogPolicyKeepsTheConnectionAfterAHangUp)
{
    dm->SetErrorPolicy(kErrorPolicyLog);
    dm->ToggleConnection();
    readMaster();
    ::close(keeper);
    keeper = -1;
    ::close(master);
    master = -1;
    ASSERT_TRUE(RunUntil([&] { return host.log.contains(M(QStringLiteral("  COM port:  ") + rs::sErrIO)); }, 5s));
    EXPECT_TRUE(dm->ComPort()->Connected());
    EXPECT_EQ(host.disconnected, 0);
    dm->ToggleConnection();
    EXPECT_EQ(host.disconnected, 1);
}
