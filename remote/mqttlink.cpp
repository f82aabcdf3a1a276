#include "mqttlink.h"

#include "uisync.h"

namespace q274 {

TMqttLink::TMqttLink(std::function<void(const QString &)> log, QString hostName)
    : FLog(std::move(log)), FHostName(std::move(hostName))
{
}

TMqttLink::~TMqttLink()
{
    JoinHandover();
    FPublisher.reset();
}

void TMqttLink::JoinHandover()
{
    if (FHandover.joinable())
        FHandover.join();
}

void TMqttLink::Handover(std::unique_ptr<TMqttPublisher> old, TMqttClient *next)
{
    JoinHandover();
    if (!old) {
        if (next)
            next->Start();
        return;
    }
    FHandover = std::thread([old = std::move(old), next]() mutable {
        old.reset();
        if (next)
            next->Start();
    });
}

bool TMqttLink::Apply(const MqttSettings &settings)
{
    if (!settings.Enabled()) {
        if (FPublisher)
            FLog(QStringLiteral("MQTT: publishing ended"));
        FClientSettings.reset();
        Handover(std::move(FPublisher), nullptr);
        return false;
    }
    const MqttClientSettings wanted = TMqttPublisher::ClientSettings(settings, FHostName);
    if (FPublisher && FClientSettings == wanted)
        return false;
    FClientSettings = wanted;
    std::weak_ptr<int> alive = FAlive;
    auto log = FLog;
    auto client = std::make_unique<TMqttClient>(wanted, [alive, log](const QString &line) {
        // From the client's thread: the window's log is the UI thread's.
        UiSync::Post([alive, log, line] {
            if (alive.lock())
                log(line);
        });
    });
    TMqttClient *next = client.get();
    std::unique_ptr<TMqttPublisher> old = std::move(FPublisher);
    FPublisher = std::make_unique<TMqttPublisher>(std::move(client));
    SendAll(); // into the new outbox, sent once it is connected
    Handover(std::move(old), next);
    return true;
}

void TMqttLink::SendAll()
{
    TMqttPublisher &p = *FPublisher;
    p.Link(FLink);
    if (FSettings)
        p.Settings(FSettings->first, FSettings->second);
    if (FRelays)
        p.Relays(*FRelays);
    for (int ch = 1; ch <= 4; ++ch)
        p.Reading(ch, FCelsius[std::size_t(ch - 1)]);
    for (int ch = 0; ch <= 4; ++ch)
        p.Alarm(ch, FAlarmKinds[std::size_t(ch)] != 0);
}

void TMqttLink::Reading(int channel, std::optional<double> celsius)
{
    if (channel < 1 || channel > 4)
        return;
    FCelsius[std::size_t(channel - 1)] = celsius;
    if (FPublisher)
        FPublisher->Reading(channel, celsius);
}

void TMqttLink::Relays(const std::array<bool, 4> &relayOn)
{
    FRelays = relayOn;
    if (FPublisher)
        FPublisher->Relays(relayOn);
}

void TMqttLink::Settings(bool fahrenheit, const std::array<ChannelSettings, 4> &channels)
{
    FSettings.emplace(fahrenheit, channels);
    if (FPublisher)
        FPublisher->Settings(fahrenheit, channels);
}

void TMqttLink::Link(bool connected)
{
    FLink = connected;
    if (!connected)
        FCelsius = {};
    if (!FPublisher)
        return;
    FPublisher->Link(connected);
    if (!connected)
        FPublisher->NoReadings();
}

void TMqttLink::Alarm(const AlarmEvent &event)
{
    if (event.Channel < 0 || event.Channel > 4)
        return;
    unsigned &kinds = FAlarmKinds[std::size_t(event.Channel)];
    const unsigned bit = 1u << unsigned(event.Kind);
    kinds = event.Started ? kinds | bit : kinds & ~bit;
    if (FPublisher)
        FPublisher->Alarm(event.Channel, kinds != 0);
}

void TMqttLink::DataLine(const QDateTime &time)
{
    if (FPublisher)
        FPublisher->DataLine(time);
}

} // namespace q274
