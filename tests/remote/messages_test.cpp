// What goes to the broker, without one: payloads that read the same in every
// locale, the data line's JSON, discovery that Home Assistant can take, the
// outbox's bound and the publisher sending changes only.
#include "mqttmessages.h"
#include "outbox.h"
#include "mqttlink.h"
#include "publisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTimeZone>

#include <clocale>

#include <gtest/gtest.h>

using namespace q274;

TEST(MqttPayloads, TemperaturesUseADotInEveryLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char *old = std::setlocale(LC_ALL, "de_DE.UTF-8"); // where installed
    EXPECT_EQ(FormatTemperature(23.4), "23.4");
    EXPECT_EQ(FormatTemperature(-5.0), "-5");
    EXPECT_EQ(FormatTemperature(100.126), "100.13");
    EXPECT_EQ(FormatTemperature(-0.001), "0") << "no minus zero";
    EXPECT_EQ(FormatTemperature(qQNaN()), "") << "not a reading";
    EXPECT_EQ(FormatTemperature(qInf()), "");
    DataLineValues v;
    v.Time = QDateTime(QDate(2026, 12, 9), QTime(13, 0, 0, 350), QTimeZone(3600));
    v.Celsius = {21.5, std::nullopt, -3.25, 100.0};
    v.RelayOn = {true, false, false, true};
    const QByteArray json = DataLineJson(v);
    EXPECT_FALSE(json.contains(',' + QByteArray("5"))) << json.constData();
    if (old)
        std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());

    const QJsonObject o = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(o.value("time").toString(), "2026-12-09T13:00:00.350+01:00");
    EXPECT_EQ(o.value("unit").toString(), "C");
    EXPECT_DOUBLE_EQ(o.value("ch1").toDouble(), 21.5);
    EXPECT_TRUE(o.value("ch2").isNull()) << "no reading is null, not 0";
    EXPECT_DOUBLE_EQ(o.value("ch3").toDouble(), -3.25);
    EXPECT_TRUE(o.value("relay1").toBool());
    EXPECT_FALSE(o.value("relay2").toBool());
    EXPECT_FALSE(json.contains('\n')) << "one line per data line";
}

TEST(MqttTopics, PrefixesAreSafeTopicLevels)
{
    EXPECT_EQ(DefaultMqttPrefix("bench-pc"), "q274/bench-pc");
    EXPECT_EQ(DefaultMqttPrefix("a/b+c#d e"), "q274/a_b_c_d_e") << "no wildcard or extra level";
    EXPECT_EQ(DefaultMqttPrefix("  "), "q274/q274");
    EXPECT_EQ(EffectiveMqttPrefix("", "lab"), "q274/lab");
    EXPECT_EQ(EffectiveMqttPrefix(" house/kiln/ ", "lab"), "house/kiln") << "no empty level at the end";
    EXPECT_EQ(ChannelTopic("q274/lab", 3, "relay"), "q274/lab/ch3/relay");
    EXPECT_EQ(DiscoveryNodeId("q274/lab pc.1"), "q274_lab_pc_1");
}

TEST(MqttDiscovery, EachChannelASensorAndEachRelayABinarySensorOfOneDevice)
{
    const auto messages = DiscoveryMessages("q274/lab");
    ASSERT_EQ(messages.size(), 8u);
    QStringList ids;
    for (const MqttMessage &m : messages) {
        EXPECT_TRUE(m.Retained) << "Home Assistant reads discovery when it starts";
        const QJsonObject o = QJsonDocument::fromJson(m.Payload).object();
        ASSERT_FALSE(o.isEmpty()) << m.Topic.toStdString();
        const QString component = m.Topic.section('/', 1, 1);
        const QString object = m.Topic.section('/', 3, 3);
        EXPECT_EQ(m.Topic, QStringLiteral("homeassistant/%1/q274_lab/%2/config").arg(component, object));
        ids << o.value("unique_id").toString();
        EXPECT_EQ(o.value("availability_topic").toString(), "q274/lab/status");
        EXPECT_EQ(o.value("payload_not_available").toString(), "offline");
        EXPECT_EQ(o.value("device").toObject().value("identifiers").toArray().first().toString(), "q274_lab");
        const QString ch = object.left(3); // "ch1".."ch4"
        if (component == "sensor") {
            EXPECT_EQ(o.value("state_topic").toString(), "q274/lab/" + ch + "/temperature");
            EXPECT_EQ(o.value("device_class").toString(), "temperature");
            EXPECT_EQ(o.value("unit_of_measurement").toString(), QStringLiteral("\u00B0C"));
        } else {
            EXPECT_EQ(component, "binary_sensor");
            EXPECT_EQ(o.value("state_topic").toString(), "q274/lab/" + ch + "/relay");
            EXPECT_EQ(o.value("payload_on").toString(), QString::fromLatin1(OnOff(true)));
            EXPECT_EQ(o.value("payload_off").toString(), QString::fromLatin1(OnOff(false)));
        }
    }
    ids.removeDuplicates();
    EXPECT_EQ(ids.size(), 8) << "every entity its own id";
}

TEST(MqttOutbox, BoundedOldestDroppedReportedOncePerOutage)
{
    TMqttOutbox box(3);
    int firsts = 0;
    for (int i = 0; i < 10; ++i)
        firsts += box.Push({"t/" + QString::number(i % 2), QByteArray::number(i), i % 2 == 1}).FirstDropped;
    EXPECT_EQ(box.Waiting(), 3u);
    EXPECT_EQ(box.DroppedTotal(), 7u);
    EXPECT_EQ(firsts, 1) << "one report per outage, not one per message";
    const auto taken = box.Take(2);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].Payload, "7") << "the oldest went, the newest stay, in order";
    EXPECT_EQ(taken[1].Payload, "8");
    // Retained topics keep their last value even when the queue dropped it.
    const auto state = box.RetainedState();
    ASSERT_EQ(state.size(), 1u);
    EXPECT_EQ(state[0].Topic, "t/1");
    EXPECT_EQ(state[0].Payload, "9");

    box.Take(10); // drained: the next outage is reported again
    for (int i = 0; i < 3; ++i)
        box.Push({"x", "y", false});
    EXPECT_TRUE(box.Push({"x", "y", false}).FirstDropped);

    // A new connection gets each retained topic once: the state, not the
    // older values still queued behind it; the rest stays queued.
    TMqttOutbox fresh;
    fresh.Push({"r", "1", true});
    fresh.Push({"d", "a", false});
    fresh.Push({"r", "2", true});
    const auto again = fresh.TakeRetainedState();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Payload, "2");
    const auto rest = fresh.Take(10);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].Topic, "d");
}

TEST(MqttRetry, BackOffDoublesFromHalfASecondToThirtySeconds)
{
    EXPECT_EQ(MqttRetryDelayMs(1), 500);
    EXPECT_EQ(MqttRetryDelayMs(2), 1000);
    EXPECT_EQ(MqttRetryDelayMs(4), 4000);
    EXPECT_EQ(MqttRetryDelayMs(7), 30000);
    EXPECT_EQ(MqttRetryDelayMs(1000), 30000) << "no overflow after a long outage";
}

TEST(MqttPublisher, SendsReadingsAlwaysAndStateOnlyWhenItChanges)
{
    MqttSettings s;
    s.Host = "broker.invalid";
    s.Prefix = "p";
    auto client = std::make_unique<TMqttClient>(TMqttPublisher::ClientSettings(s, "host"), nullptr);
    TMqttOutbox &box = client->Outbox();
    TMqttPublisher pub(std::move(client)); // never started: everything waits in the outbox
    auto topics = [&box] {
        QStringList out;
        for (const MqttMessage &m : box.Take(1000))
            out << m.Topic + '=' + QString::fromUtf8(m.Payload);
        return out;
    };
    EXPECT_TRUE(topics().contains("p/ch2/alarm=OFF")) << "discovery and alarms off from the start";

    std::array<ChannelSettings, 4> settings{};
    pub.Settings(true, settings);
    EXPECT_EQ(topics().size(), 1 + 4 * 4) << "unit and four settings per channel";
    settings[1].SetPoint = 45;
    pub.Settings(true, settings);
    EXPECT_EQ(topics(), QStringList{"p/ch2/setpoint=45"});
    pub.Settings(true, settings);
    EXPECT_TRUE(topics().isEmpty());

    pub.Reading(1, 20.0);
    pub.Reading(1, 20.0);
    EXPECT_EQ(topics(), (QStringList{"p/ch1/temperature=20", "p/ch1/reading=68", "p/ch1/temperature=20",
                                     "p/ch1/reading=68"}))
        << "every reading counts for a history; the unit shown is F";

    pub.Relays({false, true, false, false});
    pub.Relays({false, true, false, false});
    pub.Relays({false, false, false, false});
    EXPECT_EQ(topics(), (QStringList{"p/ch1/relay=OFF", "p/ch2/relay=ON", "p/ch3/relay=OFF", "p/ch4/relay=OFF",
                                     "p/ch2/relay=OFF"}));

    pub.NoReadings();
    EXPECT_EQ(topics(), (QStringList{"p/ch1/temperature=", "p/ch1/reading="})) << "only channels that had one";
    pub.Alarm(3, true);
    pub.Alarm(3, true);
    pub.Alarm(0, true);
    EXPECT_EQ(topics(), (QStringList{"p/ch3/alarm=ON", "p/alarm=ON"}));
}

namespace {
QByteArray RetainedPayload(TMqttLink &link, const QString &topic)
{
    for (const MqttMessage &m : link.Publisher()->Client().Outbox().RetainedState())
        if (m.Topic == topic)
            return m.Payload;
    return "(none)";
}
} // namespace

TEST(MqttLink, ANewPublisherGetsTheWholeStateAndAnAlarmLastsWhileAnyOfItsKindsDoes)
{
    TMqttLink link([](const QString &) {}, QStringLiteral("lab"));
    link.Link(true);
    link.Reading(1, 20.5);
    link.Relays({true, false, false, false});
    link.Alarm({1, AlarmKind::High, true, {}, {}});
    link.Alarm({1, AlarmKind::NoReading, true, {}, {}});
    EXPECT_EQ(link.Publisher(), nullptr) << "nothing without a broker";

    MqttSettings s;
    s.Host = QStringLiteral("127.0.0.1");
    s.Port = 1; // nobody there: the messages wait
    ASSERT_TRUE(link.Apply(s));
    EXPECT_EQ(link.Publisher()->Prefix(), "q274/lab");
    EXPECT_EQ(RetainedPayload(link, "q274/lab/ch1/temperature"), "20.5");
    EXPECT_EQ(RetainedPayload(link, "q274/lab/ch1/relay"), "ON");
    EXPECT_EQ(RetainedPayload(link, "q274/lab/link"), "ON");
    link.Alarm({1, AlarmKind::High, false, {}, {}});
    EXPECT_EQ(RetainedPayload(link, "q274/lab/ch1/alarm"), "ON") << "no reading still";
    link.Alarm({1, AlarmKind::NoReading, false, {}, {}});
    EXPECT_EQ(RetainedPayload(link, "q274/lab/ch1/alarm"), "OFF");

    TMqttPublisher *first = link.Publisher();
    s.StorePassword = false; // not the client's business
    EXPECT_FALSE(link.Apply(s));
    EXPECT_EQ(link.Publisher(), first);
    s.Prefix = QStringLiteral("house/kiln");
    link.Link(false);
    ASSERT_TRUE(link.Apply(s));
    EXPECT_EQ(RetainedPayload(link, "house/kiln/link"), "OFF");
    EXPECT_EQ(RetainedPayload(link, "house/kiln/ch1/temperature"), "") << "no reading without the board";
    EXPECT_FALSE(link.Apply({}));
    EXPECT_EQ(link.Publisher(), nullptr);
}
