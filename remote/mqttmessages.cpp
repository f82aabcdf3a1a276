#include "mqttmessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace q274 {

QString DefaultMqttPrefix(const QString &name)
{
    QString clean = name.trimmed();
    for (QChar &c : clean)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.isSpace()
            || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    return QStringLiteral("q274/") + (clean.isEmpty() ? QStringLiteral("q274") : clean);
}

QString EffectiveMqttPrefix(const QString &userPrefix, const QString &hostName)
{
    QString prefix = userPrefix.trimmed();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    return prefix.isEmpty() ? DefaultMqttPrefix(hostName) : prefix;
}

QString StatusTopic(const QString &prefix) { return prefix + QStringLiteral("/status"); }
QString DataTopic(const QString &prefix) { return prefix + QStringLiteral("/data"); }
QString UnitTopic(const QString &prefix) { return prefix + QStringLiteral("/unit"); }
QString LinkTopic(const QString &prefix) { return prefix + QStringLiteral("/link"); }

QString ChannelTopic(const QString &prefix, int channel, const QString &leaf)
{
    return QStringLiteral("%1/ch%2/%3").arg(prefix).arg(channel).arg(leaf);
}

QByteArray FormatTemperature(double value)
{
    if (!std::isfinite(value))
        return {};
    // QByteArray::number never looks at the locale.
    QByteArray text = QByteArray::number(value, 'f', 2);
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    if (text == "-0")
        text = "0";
    return text;
}

QByteArray OnOff(bool on) { return on ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF"); }

QByteArray DataLineJson(const DataLineValues &values)
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), values.Time.toOffsetFromUtc(values.Time.offsetFromUtc())
                                         .toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("unit"), values.Fahrenheit ? QStringLiteral("F") : QStringLiteral("C"));
    for (int ch = 1; ch <= 4; ++ch) {
        const std::optional<double> &c = values.Celsius[std::size_t(ch - 1)];
        // The same rounding as the channel topics, as a JSON number.
        const QByteArray text = c ? FormatTemperature(*c) : QByteArray();
        o.insert(QStringLiteral("ch%1").arg(ch), text.isEmpty() ? QJsonValue() : QJsonValue(text.toDouble()));
    }
    for (int ch = 1; ch <= 4; ++ch)
        o.insert(QStringLiteral("relay%1").arg(ch), values.RelayOn[std::size_t(ch - 1)]);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString DiscoveryNodeId(const QString &prefix)
{
    QString id = prefix;
    for (QChar &c : id)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return id;
}

std::vector<MqttMessage> DiscoveryMessages(const QString &prefix)
{
    const QString node = DiscoveryNodeId(prefix);
    QJsonObject device;
    device.insert(QStringLiteral("identifiers"), QJsonArray{node});
    device.insert(QStringLiteral("name"), QStringLiteral("Q274 ") + prefix);
    device.insert(QStringLiteral("model"), QStringLiteral("Q274 temperature controller"));

    auto common = [&](const QString &objectId, const QString &name, const QString &stateTopic) {
        QJsonObject o;
        o.insert(QStringLiteral("name"), name);
        o.insert(QStringLiteral("unique_id"), node + QLatin1Char('_') + objectId);
        o.insert(QStringLiteral("object_id"), node + QLatin1Char('_') + objectId);
        o.insert(QStringLiteral("state_topic"), stateTopic);
        o.insert(QStringLiteral("availability_topic"), StatusTopic(prefix));
        o.insert(QStringLiteral("payload_available"), QString::fromLatin1(kOnline));
        o.insert(QStringLiteral("payload_not_available"), QString::fromLatin1(kOffline));
        o.insert(QStringLiteral("device"), device);
        return o;
    };
    auto message = [&](const QString &component, const QString &objectId, const QJsonObject &o) {
        return MqttMessage{QStringLiteral("homeassistant/%1/%2/%3/config").arg(component, node, objectId),
                           QJsonDocument(o).toJson(QJsonDocument::Compact), true};
    };

    std::vector<MqttMessage> out;
    for (int ch = 1; ch <= 4; ++ch) {
        const QString id = QStringLiteral("ch%1_temperature").arg(ch);
        QJsonObject o = common(id, QStringLiteral("Channel %1 temperature").arg(ch),
                               ChannelTopic(prefix, ch, QStringLiteral("temperature")));
        o.insert(QStringLiteral("device_class"), QStringLiteral("temperature"));
        o.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        o.insert(QStringLiteral("unit_of_measurement"), QStringLiteral("\u00B0C"));
        out.push_back(message(QStringLiteral("sensor"), id, o));
    }
    for (int ch = 1; ch <= 4; ++ch) {
        const QString id = QStringLiteral("ch%1_relay").arg(ch);
        QJsonObject o = common(id, QStringLiteral("Relay %1").arg(ch), ChannelTopic(prefix, ch, QStringLiteral("relay")));
        o.insert(QStringLiteral("device_class"), QStringLiteral("power"));
        o.insert(QStringLiteral("payload_on"), QString::fromLatin1(OnOff(true)));
        o.insert(QStringLiteral("payload_off"), QString::fromLatin1(OnOff(false)));
        out.push_back(message(QStringLiteral("binary_sensor"), id, o));
    }
    return out;
}

} // namespace q274
