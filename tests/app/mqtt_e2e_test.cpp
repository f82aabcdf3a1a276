// The window publishing a run to a real mosquitto broker the test starts: a
// subscriber sees readings, a relay going on and off, discovery and the
// retained state; the killed program leaves "offline"; a broker that goes
// away leaves polling as it was and gets everything again when it is back;
// broker settings that cannot work say so once each.
//
// The outage lasts Q274_MQTT_OUTAGE_S seconds (default 4, which keeps the
// suite fast); `Q274_MQTT_OUTAGE_S=30 ctest -R app_mqtt_e2e` runs it for the
// length users care about.
#include "brokerbox.h"
#include "mainwindow.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "childprocess.h"
#include "support/mainwidgets.h"
#include "support/mqtttest.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace q274;
using namespace q274test;

namespace {

QStringList Log(const TfrmMain &w) { return Messages(Ui(w).memLog->toPlainText(), kIndent); }
int Count(const QStringList &lines, const QString &part)
{
    return int(std::count_if(lines.begin(), lines.end(), [&](const QString &l) { return l.contains(part); }));
}

void WriteAll(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// The simulator behind a link name; its trace gives the moments of polling.
struct Sim {
    Sim(const QString &link, QString trace)
        : Process(Q274_SIM_PATH, {"--link", link.toStdString(), "--trace", trace.toStdString()}), Trace(std::move(trace))
    {
        Device = Process.ReadLine(int(kPatience.count())).value_or(std::string());
    }
    // When each temperature query arrived (ms of the simulator's clock).
    std::vector<int> Queries() const
    {
        QFile f(Trace);
        std::vector<int> out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &l : f.readAll().split('\n'))
                if (l.contains(" RX T"))
                    out.push_back(l.left(l.indexOf(' ')).toInt());
        return out;
    }
    int Now() const
    {
        const std::vector<int> q = Queries();
        return q.empty() ? 0 : q.back();
    }
    ChildProcess Process;
    QString Trace;
    std::string Device;
};

struct Gaps {
    int Median = 0, Max = 0;
    std::size_t Count = 0;
};
// The gaps between temperature queries within [from, to).
Gaps GapsBetween(const std::vector<int> &queries, int from, int to)
{
    std::vector<int> gaps;
    for (std::size_t i = 1; i < queries.size(); ++i)
        if (queries[i - 1] >= from && queries[i] < to)
            gaps.push_back(queries[i] - queries[i - 1]);
    if (gaps.empty())
        return {};
    std::sort(gaps.begin(), gaps.end());
    return {gaps[gaps.size() / 2], gaps.back(), gaps.size()};
}

double CpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::string Payload(TestSubscriber &sub, const std::string &topic)
{
    const auto p = sub.Payloads(topic);
    return p.empty() ? std::string("(none)") : p.back();
}

class MqttE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!MosquittoInstalled())
            GTEST_SKIP() << "no " << kMosquittoPath << " (Debian package mosquitto): skipped";
        ASSERT_TRUE(Broker->Start());
    }

    // The window on the simulator, channel 1 heating towards set point 100
    // (its relay goes on), publishing under t/e2e.
    void Connect(const QString &extraProfile = {})
    {
        const QString link = Dir.filePath(QStringLiteral("board"));
        Board = std::make_unique<Sim>(link, Dir.filePath(QStringLiteral("trace")));
        ASSERT_FALSE(Board->Device.empty());
        const QString profile = Dir.filePath(QStringLiteral("run.ini"));
        WriteAll(profile, QStringLiteral("[port]\nname = %1\n[channel1]\nenabled = true\nsetpoint = 100\n"
                                         "[mqtt]\nhost = 127.0.0.1\nport = %2\nprefix = t/e2e\n%3")
                              .arg(link)
                              .arg(Broker->Port())
                              .arg(extraProfile)
                              .toUtf8());
        W.SetDecimalSeparator(QStringLiteral("."));
        W.SetDataLineInterval(1000);
        W.ShowLogBanner();
        W.Connection()->Poller().StartCommandSender();
        ASSERT_TRUE(W.UseProfile(profile));
        Ui(W).btnConn->click();
    }

    std::unique_ptr<TestBroker> Broker = std::make_unique<TestBroker>();
    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    std::unique_ptr<Sim> Board;
    TdmQ274 Dm;
    TfrmMain W{&Dm};
};

} // namespace

TEST_F(MqttE2E, ReadingsRelaysSettingsAndDiscoveryReachASubscriber)
{
    TestSubscriber sub(Broker->Port(), "#");
    ASSERT_TRUE(Eventually([&] { return sub.Subscribed(); }));
    Connect();
    auto data = [&] {
        return QJsonDocument::fromJson(QByteArray::fromStdString(Payload(sub, "t/e2e/data"))).object();
    };
    ASSERT_TRUE(RunUntil([&] { return Payload(sub, "t/e2e/ch1/relay") == "ON" && data().value("relay1").toBool(); }))
        << Log(W).join('|').toStdString();
    EXPECT_EQ(Payload(sub, "t/e2e/status"), "online");
    EXPECT_EQ(Payload(sub, "t/e2e/link"), "ON");
    EXPECT_EQ(Payload(sub, "t/e2e/ch1/setpoint"), "100");
    EXPECT_EQ(Payload(sub, "t/e2e/ch1/enabled"), "ON");
    EXPECT_EQ(Payload(sub, "t/e2e/ch2/enabled"), "OFF");
    const double celsius = QByteArray::fromStdString(Payload(sub, "t/e2e/ch1/temperature")).toDouble();
    EXPECT_GT(celsius, 15.0) << "the simulator starts near 21 C";
    EXPECT_LT(celsius, 30.0);
    EXPECT_TRUE(data().value("ch1").isDouble());
    const QJsonObject sensor = QJsonDocument::fromJson(QByteArray::fromStdString(
                                                           Payload(sub, "homeassistant/sensor/t_e2e/ch1_temperature/config")))
                                   .object();
    EXPECT_EQ(sensor.value("state_topic").toString(), "t/e2e/ch1/temperature");
    EXPECT_EQ(Payload(sub, "homeassistant/binary_sensor/t_e2e/ch4_relay/config").find("t/e2e/ch4/relay") != std::string::npos,
              true);

    // A lower set point: the thermostat switches the relay off.
    Channel(W, 1).SetPointSpinner->SetPosition(5);
    W.ApplySettings();
    ASSERT_TRUE(RunUntil([&] { return Payload(sub, "t/e2e/ch1/relay") == "OFF"; })) << Log(W).join('|').toStdString();
    EXPECT_EQ(Payload(sub, "t/e2e/ch1/setpoint"), "5");

    Ui(W).btnConn->click();
    ASSERT_TRUE(RunUntil([&] { return Payload(sub, "t/e2e/link") == "OFF"; }));
    ASSERT_TRUE(RunUntil([&] { return Payload(sub, "t/e2e/ch1/temperature").empty(); })) << "no reading any more";

    // One client all along: the settings changes did not reconnect it.
    EXPECT_EQ(sub.Payloads("t/e2e/status"), std::vector<std::string>{"online"});
    EXPECT_EQ(Count(Log(W), QStringLiteral("MQTT: connected to broker")), 1);
    EXPECT_EQ(W.MqttLink().Publisher()->Client().Connections(), 1);
}

TEST_F(MqttE2E, AKilledProgramLeavesOfflineForNewcomers)
{
    const QString profile = Dir.filePath(QStringLiteral("kill.ini"));
    WriteAll(profile,
             QStringLiteral("[mqtt]\nhost = 127.0.0.1\nport = %1\nprefix = t/kill\n").arg(Broker->Port()).toUtf8());
    TestSubscriber sub(Broker->Port(), "t/kill/#");
    ASSERT_TRUE(Eventually([&] { return sub.Subscribed(); }));
    ChildProcess program(Q274_PROGRAM_PATH, {"--profile", profile.toStdString()});
    ASSERT_TRUE(Eventually([&] { return Payload(sub, "t/kill/status") == "online"; }, kPatience));
    EXPECT_TRUE(Eventually([&] { return Payload(sub, "t/kill/link") == "OFF"; })) << "not connected to a board";
    program.Signal(SIGKILL);
    ASSERT_TRUE(Eventually([&] { return Payload(sub, "t/kill/status") == "offline"; }));
    TestSubscriber late(Broker->Port(), "t/kill/status");
    ASSERT_TRUE(Eventually([&] { return !late.Payloads("t/kill/status").empty(); }));
    EXPECT_EQ(Payload(late, "t/kill/status"), "offline");
}

TEST_F(MqttE2E, ABrokerAwayLeavesPollingAsItWasAndEverythingFollowsItsReturn)
{
    const char *env = std::getenv("Q274_MQTT_OUTAGE_S");
    const auto outage = std::chrono::milliseconds(1000 * (env ? std::max(1, std::atoi(env)) : 4));
    Connect();
    ASSERT_TRUE(RunUntil([&] { return W.MqttLink().Publisher()->Client().Connected() && W.ChannelState().RelayOn(1); }))
        << Log(W).join('|').toStdString();

    // As long with the broker there, then as long without it.
    // Both spans are run alike, the outbox looked at every 100 ms.
    std::size_t mostWaiting = 0;
    auto run = [&] {
        const double cpu = CpuSeconds();
        for (auto t = 0ms; t < outage; t += 100ms) {
            Pump(100ms);
            mostWaiting = std::max(mostWaiting, W.MqttLink().Publisher()->Client().Outbox().Waiting());
        }
        return CpuSeconds() - cpu;
    };
    const int baseFrom = Board->Now();
    const double baseCpu = run();
    const int baseTo = Board->Now();

    Broker->Stop();
    ASSERT_TRUE(RunUntil([&] { return Count(Log(W), QStringLiteral("MQTT: broker ")) == 1; }));
    const int awayFrom = Board->Now();
    mostWaiting = 0;
    const double awayCpu = run();
    const int awayTo = Board->Now();

    const Gaps base = GapsBetween(Board->Queries(), baseFrom, baseTo);
    const Gaps away = GapsBetween(Board->Queries(), awayFrom, awayTo);
    std::printf("poll gaps with the broker: median %d ms, max %d ms; without it for %lld s: median %d ms, max %d ms; "
                "CPU %.3f s and %.3f s\n",
                base.Median, base.Max, static_cast<long long>(outage.count() / 1000), away.Median, away.Max, baseCpu,
                awayCpu);
    // The 900 ms rotation of queries: a few gaps each.
    ASSERT_GE(base.Count, 3u);
    ASSERT_GE(away.Count, 3u);
    EXPECT_LE(away.Median, base.Median * 5 / 4 + 10) << "base " << base.Median << " ms, away " << away.Median << " ms";
    EXPECT_LE(away.Max, base.Max + 250) << "base " << base.Max << " ms, away " << away.Max << " ms";
    EXPECT_LE(awayCpu, baseCpu * 1.5 + 0.05 * outage.count() / 1000.0)
        << "no busy waiting: " << baseCpu << " s with the broker, " << awayCpu << " s without";
    EXPECT_GT(mostWaiting, 0u) << "messages wait while the broker is away";
    EXPECT_LE(mostWaiting, W.MqttLink().Publisher()->Client().Outbox().Capacity());

    ASSERT_TRUE(Broker->Start()) << "the same port again";
    TestSubscriber sub(Broker->Port(), "t/e2e/#");
    // The next attempt may be up to the longest back-off (30 s) away.
    ASSERT_TRUE(RunUntil([&] { return W.MqttLink().Publisher()->Client().Connections() == 2; }, 40s));
    ASSERT_TRUE(RunUntil([&] {
        return Payload(sub, "t/e2e/status") == "online" && Payload(sub, "t/e2e/ch1/relay") == "ON"
               && Payload(sub, "t/e2e/ch1/setpoint") == "100" && !sub.Payloads("t/e2e/data").empty();
    })) << "the retained state again, and new data lines";
    EXPECT_TRUE(RunUntil([&] { return W.MqttLink().Publisher()->Client().Outbox().Waiting() == 0; }));
    // The client counts the connection before its report reaches the window.
    RunUntil([&] { return Count(Log(W), QStringLiteral("MQTT: connected to broker")) >= 2; });
    const QStringList log = Log(W);
    EXPECT_EQ(Count(log, QStringLiteral("MQTT: broker ")), 1) << "one line for the loss";
    EXPECT_EQ(Count(log, QStringLiteral("MQTT: connected to broker")), 2) << log.join('|').toStdString();
}

TEST_F(MqttE2E, BrokerSettingsThatCannotWorkSayItOnceEachAndTheWindowGoesOn)
{
    TestBroker locked(QStringLiteral("password_file @DIR@/passwd"));
    ChildProcess("/usr/bin/mosquitto_passwd", {"-b", "-c", (locked.Folder() + "/passwd").toStdString(), "q274", "right"})
        .Wait(5000);
    ASSERT_TRUE(locked.Start());
    const QString profile = Dir.filePath(QStringLiteral("bad.ini"));
    ASSERT_TRUE(W.UseProfile(profile));
    TBrokerBox &box = *W.BrokerBox();
    auto enter = [&](QLineEdit *field, const QString &text) {
        field->setText(text);
        emit field->editingFinished();
    };
    struct Case {
        const char *What;
        QString Host;
        int Port;
        QString User, Password, Ca, Says;
    };
    const Case cases[] = {
        {"unknown host", QStringLiteral("no-such-broker.invalid"), 1883, {}, {}, {}, QStringLiteral("unknown host")},
        {"wrong password", QStringLiteral("127.0.0.1"), locked.Port(), QStringLiteral("q274"),
         QStringLiteral("secret-wrong"), {}, QStringLiteral("not authori")},
        {"TLS against a plain broker", QStringLiteral("127.0.0.1"), Broker->Port(), {}, {},
         QStringLiteral("/etc/ssl/certs/ca-certificates.crt"), QStringLiteral("TLS")},
    };
    box.KeepPasswordOut->click();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        const auto t0 = std::chrono::steady_clock::now();
        enter(box.Host, QString()); // no half-entered broker is tried
        box.Port->setValue(c.Port);
        enter(box.User, c.User);
        enter(box.Password, c.Password);
        enter(box.CaFile, c.Ca);
        enter(box.Host, c.Host);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms) << "the window never waits for the broker";
        const QString name = QStringLiteral("%1:%2").arg(c.Host).arg(c.Port);
        const QString line = QStringLiteral("MQTT: cannot connect to broker ") + name;
        ASSERT_TRUE(RunUntil([&] { return Count(Log(W), line) == 1; }, 10s)) << Log(W).join('|').toStdString();
        TMqttClient &client = W.MqttLink().Publisher()->Client();
        ASSERT_TRUE(RunUntil([&] { return client.Attempts() >= 3; }, 10s)) << "it tries again";
        Pump(100ms);
        const QStringList log = Log(W);
        EXPECT_EQ(Count(log, line), 1);
        EXPECT_EQ(Count(log, c.Says), 1) << log.join('|').toStdString();
        EXPECT_EQ(Count(log, QStringLiteral("secret")), 0) << "never the password";
        // The same settings again are no change.
        emit box.Host->editingFinished();
        EXPECT_EQ(&W.MqttLink().Publisher()->Client(), &client);
    }
    QFile written(profile);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray text = written.readAll();
    EXPECT_TRUE(text.contains("ca-certificates.crt")) << text.constData();
    EXPECT_FALSE(text.contains("secret")) << "the password stays out of this profile";

    enter(box.Host, QString());
    EXPECT_EQ(W.MqttLink().Publisher(), nullptr);
    EXPECT_EQ(Count(Log(W), QStringLiteral("MQTT: publishing ended")), 3) << "once after each case";
}
