#include "publisher.h"

namespace q274 {

namespace {

bool SameSettings(const ChannelSettings &a, const ChannelSettings &b)
{
    return a.Enabled == b.Enabled && a.SetPoint == b.SetPoint && a.Dropout == b.Dropout && a.Mode == b.Mode;
}

} // namespace

MqttClientSettings TMqttPublisher::ClientSettings(const MqttSettings &settings, const QString &hostName)
{
    MqttClientSettings c;
    c.Host = settings.Host.trimmed();
    c.Port = settings.Port;
    c.TlsCa = settings.TlsCa;
    c.User = settings.User;
    c.Password = settings.Password;
    c.Prefix = EffectiveMqttPrefix(settings.Prefix, hostName);
    return c;
}

TMqttPublisher::TMqttPublisher(const MqttSettings &settings, const QString &hostName, TMqttClient::Report report)
    : TMqttPublisher(std::make_unique<TMqttClient>(ClientSettings(settings, hostName), std::move(report)))
{
    FClient->Start();
}

TMqttPublisher::TMqttPublisher(std::unique_ptr<TMqttClient> client)
    : FClient(std::move(client)), FPrefix(FClient->Settings().Prefix)
{
    Announce();
}

TMqttPublisher::~TMqttPublisher() = default;

void TMqttPublisher::Send(const QString &topic, const QByteArray &payload, bool retained)
{
    FClient->Publish({topic, payload, retained});
}

void TMqttPublisher::Announce()
{
    for (MqttMessage &m : DiscoveryMessages(FPrefix))
        FClient->Publish(std::move(m));
    // No alarm until one starts: newcomers see that too.
    Send(FPrefix + QStringLiteral("/alarm"), OnOff(false));
    for (int ch = 1; ch <= 4; ++ch)
        Send(ChannelTopic(FPrefix, ch, QStringLiteral("alarm")), OnOff(false));
}

void TMqttPublisher::Reading(int channel, std::optional<double> celsius)
{
    if (channel < 1 || channel > 4)
        return;
    FCelsius[std::size_t(channel - 1)] = celsius;
    // Empty: no reading (and, retained, it clears the broker's last one).
    const QByteArray c = celsius ? FormatTemperature(*celsius) : QByteArray();
    const QByteArray shown = celsius ? FormatTemperature(FFahrenheit ? *celsius * 1.8 + 32 : *celsius) : QByteArray();
    Send(ChannelTopic(FPrefix, channel, QStringLiteral("temperature")), c);
    Send(ChannelTopic(FPrefix, channel, QStringLiteral("reading")), shown);
}

void TMqttPublisher::NoReadings()
{
    for (int ch = 1; ch <= 4; ++ch)
        if (FCelsius[std::size_t(ch - 1)])
            Reading(ch, std::nullopt);
}

void TMqttPublisher::Relays(const std::array<bool, 4> &relayOn)
{
    for (int ch = 1; ch <= 4; ++ch) {
        const std::size_t i = std::size_t(ch - 1);
        if (!FRelays || (*FRelays)[i] != relayOn[i])
            Send(ChannelTopic(FPrefix, ch, QStringLiteral("relay")), OnOff(relayOn[i]));
    }
    FRelays = relayOn;
}

void TMqttPublisher::Settings(bool fahrenheit, const std::array<ChannelSettings, 4> &channels)
{
    FFahrenheit = fahrenheit;
    if (FFahrenheitSent != fahrenheit) {
        FFahrenheitSent = fahrenheit;
        Send(UnitTopic(FPrefix), fahrenheit ? QByteArrayLiteral("F") : QByteArrayLiteral("C"));
    }
    for (int ch = 1; ch <= 4; ++ch) {
        const ChannelSettings &s = channels[std::size_t(ch - 1)];
        std::optional<ChannelSettings> &sent = FSettingsSent[std::size_t(ch - 1)];
        if (sent && SameSettings(*sent, s))
            continue;
        auto changed = [&](auto field) { return !sent || (*sent).*field != s.*field; };
        if (changed(&ChannelSettings::SetPoint))
            Send(ChannelTopic(FPrefix, ch, QStringLiteral("setpoint")), QByteArray::number(s.SetPoint));
        if (changed(&ChannelSettings::Dropout))
            Send(ChannelTopic(FPrefix, ch, QStringLiteral("dropout")), QByteArray::number(s.Dropout));
        if (changed(&ChannelSettings::Mode))
            Send(ChannelTopic(FPrefix, ch, QStringLiteral("mode")), s.Mode.toUtf8());
        if (changed(&ChannelSettings::Enabled))
            Send(ChannelTopic(FPrefix, ch, QStringLiteral("enabled")), OnOff(s.Enabled));
        sent = s;
    }
}

void TMqttPublisher::Alarm(int channel, bool active)
{
    if (channel < 0 || channel > 4 || FAlarm[std::size_t(channel)] == active)
        return;
    FAlarm[std::size_t(channel)] = active;
    Send(channel == 0 ? FPrefix + QStringLiteral("/alarm") : ChannelTopic(FPrefix, channel, QStringLiteral("alarm")),
         OnOff(active));
}

void TMqttPublisher::DataLine(const QDateTime &time)
{
    DataLineValues v;
    v.Time = time;
    v.Fahrenheit = FFahrenheit;
    v.Celsius = FCelsius;
    if (FRelays)
        v.RelayOn = *FRelays;
    Send(DataTopic(FPrefix), DataLineJson(v), false);
}

void TMqttPublisher::Link(bool connected)
{
    if (FLink == connected)
        return;
    FLink = connected;
    Send(LinkTopic(FPrefix), OnOff(connected));
}

} // namespace q274
