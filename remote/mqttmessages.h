// What the MQTT publisher says and where: topic names under the prefix,
// payload texts that read the same in every locale, one JSON object per data
// line and the Home Assistant discovery messages. Plain functions, so the
// tests and the client agree on every byte.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace q274 {

// One message for the broker.
struct MqttMessage {
    QString Topic;
    QByteArray Payload;
    bool Retained = false;

    bool operator==(const MqttMessage &) const = default;
};

// "q274/" and the name, with the characters MQTT gives a meaning in topics
// ('/', '+', '#') and blanks or control characters made '_'; an empty name
// gives "q274/q274".
QString DefaultMqttPrefix(const QString &name);
// The prefix the user set (trimmed, without a trailing '/'), or the default
// one for the host name when none is set.
QString EffectiveMqttPrefix(const QString &userPrefix, const QString &hostName);

// <prefix>/status: "online" while we are connected, "offline" (the last will).
QString StatusTopic(const QString &prefix);
// <prefix>/ch<N>/<leaf>, channel 1..4.
QString ChannelTopic(const QString &prefix, int channel, const QString &leaf);
// <prefix>/data: one JSON object per data line.
QString DataTopic(const QString &prefix);
// <prefix>/link: "ON" while the serial link to the board is up, "OFF" while
// it is down.
QString LinkTopic(const QString &prefix);
// <prefix>/unit: "C" or "F", the unit the window shows, set points and
// dropouts are in.
QString UnitTopic(const QString &prefix);

inline const QByteArray kOnline = QByteArrayLiteral("online");
inline const QByteArray kOffline = QByteArrayLiteral("offline");

// A temperature with "." as decimal separator whatever the locale, at most
// two decimals and no trailing zeros ("23.4", "-5", "0"); empty when it is
// not a finite number.
QByteArray FormatTemperature(double value);
// "ON" or "OFF".
QByteArray OnOff(bool on);

// One data line: its time (local ISO 8601 with milliseconds and offset), the
// unit shown, each channel's Celsius reading (null for none) and relay.
struct DataLineValues {
    QDateTime Time;
    bool Fahrenheit = false;
    std::array<std::optional<double>, 4> Celsius{};
    std::array<bool, 4> RelayOn{};
};
QByteArray DataLineJson(const DataLineValues &values);

// Home Assistant's node id for a prefix: the characters it allows in ids
// ([A-Za-z0-9_-]), every other one '_'.
QString DiscoveryNodeId(const QString &prefix);
// Retained discovery messages under "homeassistant/": each channel's
// temperature as a sensor (in C) and each relay as a binary sensor, all of
// one device, available while <prefix>/status says "online".
std::vector<MqttMessage> DiscoveryMessages(const QString &prefix);

} // namespace q274
