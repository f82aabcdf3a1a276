// The client against a real mosquitto broker of the test's own: state and
// messages arrive, the last will when the publisher is killed, a broker
// that goes away and comes back, and settings that cannot work.
#include "mqttclient.h"

#include "support/mqtttest.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <chrono>
#include <mutex>

using namespace q274;
using namespace q274test;
using namespace std::chrono_literals;

namespace {

// The client's report lines, from whatever thread says them.
struct Reports {
    std::mutex Mutex;
    QStringList Lines;
    TMqttClient::Report Sink()
    {
        return [this](const QString &line) {
            std::lock_guard lock(Mutex);
            Lines << line;
        };
    }
    QStringList Get()
    {
        std::lock_guard lock(Mutex);
        return Lines;
    }
    int Count(const QString &part)
    {
        int n = 0;
        for (const QString &l : Get())
            n += l.contains(part);
        return n;
    }
};

MqttClientSettings Local(int port, const QString &prefix = QStringLiteral("t"))
{
    MqttClientSettings s;
    s.Host = QStringLiteral("127.0.0.1");
    s.Port = port;
    s.Prefix = prefix;
    return s;
}

class MqttBroker : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!MosquittoInstalled())
            GTEST_SKIP() << "no " << kMosquittoPath << " (Debian package mosquitto): broker tests skipped";
    }
};

} // namespace

TEST_F(MqttBroker, StateAndMessagesArriveAndAStopSaysOffline)
{
    TestBroker broker;
    ASSERT_TRUE(broker.Start());
    TestSubscriber sub(broker.Port(), "t/#");
    ASSERT_TRUE(sub.Ok());
    ASSERT_TRUE(Eventually([&] { return sub.Subscribed(); }));

    Reports reports;
    TMqttClient client(Local(broker.Port()), reports.Sink());
    client.Publish({"t/ch1/temperature", "21.5", true}); // before Start: waits in the outbox
    client.Start();
    ASSERT_TRUE(Eventually([&] { return client.Connected(); }));
    client.Publish({"t/data", "{}", false});
    ASSERT_TRUE(Eventually([&] { return !sub.Payloads("t/data").empty(); }));
    EXPECT_EQ(sub.Payloads("t/status").front(), "online");
    EXPECT_EQ(sub.Payloads("t/ch1/temperature").front(), "21.5");

    client.Stop();
    EXPECT_TRUE(Eventually([&] { return sub.Payloads("t/status").back() == "offline"; }));
    EXPECT_EQ(reports.Get(), QStringList{"MQTT: connected to broker 127.0.0.1:" + QString::number(broker.Port())
                                         + ", topics under t/"});

    // A newcomer sees the retained state and that we are gone.
    TestSubscriber late(broker.Port(), "t/#");
    ASSERT_TRUE(Eventually([&] { return late.Payloads("t/status").size() == 1 && !late.Payloads("t/ch1/temperature").empty(); }));
    EXPECT_EQ(late.Payloads("t/status").front(), "offline");
    EXPECT_TRUE(late.Payloads("t/data").empty()) << "data lines are not retained";
}

TEST_F(MqttBroker, AKilledPublisherLeavesItsLastWill)
{
    TestBroker broker;
    ASSERT_TRUE(broker.Start());
    TestSubscriber sub(broker.Port(), "k/#");
    ASSERT_TRUE(Eventually([&] { return sub.Subscribed(); }));
    ChildProcess probe(Q274_PROBE_PATH, {"127.0.0.1", std::to_string(broker.Port()), "k"});
    const auto line = probe.ReadLine(5000);
    ASSERT_TRUE(line && line->find("connected to broker") != std::string::npos) << line.value_or("(nothing)");
    ASSERT_TRUE(Eventually([&] { return !sub.Payloads("k/probe").empty(); }));
    EXPECT_EQ(sub.Payloads("k/status").back(), "online");

    probe.Signal(SIGKILL);
    ASSERT_TRUE(Eventually([&] { return sub.Payloads("k/status").back() == "offline"; }))
        << "the broker publishes the will when the connection drops";
    TestSubscriber late(broker.Port(), "k/status");
    ASSERT_TRUE(Eventually([&] { return !late.Payloads("k/status").empty(); }));
    EXPECT_EQ(late.Payloads("k/status").front(), "offline") << "retained";
}

TEST_F(MqttBroker, ABrokerAwayKeepsTheNewestMessagesUpToTheBoundAndTheyFollowItsReturn)
{
    auto broker = std::make_unique<TestBroker>();
    ASSERT_TRUE(broker->Start());
    Reports reports;
    TMqttClient client(Local(broker->Port()), reports.Sink(), 50);
    client.Start();
    ASSERT_TRUE(Eventually([&] { return client.Connected(); }));

    broker->Stop();
    ASSERT_TRUE(Eventually([&] { return reports.Count("lost") == 1; })) << reports.Get().join('|').toStdString();
    auto slowest = 0us;
    for (int i = 0; i < 200; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        client.Publish({"t/n", QByteArray::number(i), false});
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - t0));
    }
    EXPECT_LT(slowest, 20ms) << "publishing never waits for the broker";
    EXPECT_EQ(client.Outbox().Waiting(), 50u);
    EXPECT_EQ(reports.Count("dropped"), 1);

    // Back between two attempts, so our subscriber is there before the client.
    const int attempts = client.Attempts();
    ASSERT_TRUE(Eventually([&] { return client.Attempts() > attempts; }, 5s));
    ASSERT_TRUE(broker->Start()) << "the same port again";
    TestSubscriber sub(broker->Port(), "t/#");
    ASSERT_TRUE(Eventually([&] { return sub.Subscribed(); }));
    ASSERT_TRUE(Eventually([&] { return client.Connected(); }, 3s));
    EXPECT_LE(client.Attempts(), attempts + 3) << "publishing while away makes no attempts";
    ASSERT_TRUE(Eventually([&] { return sub.Payloads("t/n").size() == 50; }));
    EXPECT_EQ(sub.Payloads("t/n").front(), "150");
    EXPECT_EQ(sub.Payloads("t/n").back(), "199");
    EXPECT_EQ(sub.Payloads("t/status").back(), "online");
    EXPECT_EQ(reports.Count("lost"), 1) << "one line per loss, not one per try";
    EXPECT_EQ(reports.Count("connected"), 2);
    EXPECT_EQ(client.Connections(), 2);
}

TEST_F(MqttBroker, SettingsThatCannotWorkGiveOneClearLineEachAndNoHang)
{
    TestBroker open;
    ASSERT_TRUE(open.Start());
    TestBroker locked(QStringLiteral("password_file @DIR@/passwd"));
    ChildProcess("/usr/bin/mosquitto_passwd", {"-b", "-c", (locked.Folder() + "/passwd").toStdString(), "q274", "right"})
        .Wait(5000);
    ASSERT_TRUE(locked.Start());

    struct Case {
        const char *What;
        MqttClientSettings Settings;
        QString Says;
    };
    MqttClientSettings unknown = Local(1883);
    unknown.Host = QStringLiteral("no-such-broker.invalid");
    MqttClientSettings wrong = Local(locked.Port());
    wrong.User = QStringLiteral("q274");
    wrong.Password = QStringLiteral("secret-wrong");
    MqttClientSettings tls = Local(open.Port());
    tls.TlsCa = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    MqttClientSettings noCa = Local(open.Port());
    noCa.TlsCa = QStringLiteral("/nonexistent/ca.pem");
    const Case cases[] = {{"unknown host", unknown, "unknown host"},
                          {"wrong password", wrong, "not authori"},
                          {"TLS against a plain broker", tls, "TLS"},
                          {"missing CA file", noCa, "CA file"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        Reports reports;
        auto client = std::make_unique<TMqttClient>(c.Settings, reports.Sink());
        client->Start();
        ASSERT_TRUE(Eventually([&] { return !reports.Get().isEmpty(); }));
        ASSERT_TRUE(Eventually([&] { return client->Attempts() >= 2; }, 5s)) << "it tries again";
        std::this_thread::sleep_for(50ms); // that try's failure would be said by now
        const QStringList lines = reports.Get();
        ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
        EXPECT_TRUE(lines[0].startsWith("MQTT: cannot connect to broker ")) << lines[0].toStdString();
        EXPECT_TRUE(lines[0].contains(c.Says)) << lines[0].toStdString();
        EXPECT_FALSE(lines[0].contains("secret")) << "never the password";
        EXPECT_FALSE(client->Connected());
        const auto t0 = std::chrono::steady_clock::now();
        client.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms) << "stopping does not hang";
    }
}
