// Publishing the run to an MQTT broker: the broker fields on the Alarms page
// and what the window tells the link. Without broker settings the link only
// remembers the run's state; no client, thread or socket exists.
#include "mainwindow.h"

#include "alarmspage.h"
#include "brokerbox.h"
#include "mqttmessages.h"

#include <QSysInfo>
#include <QVBoxLayout>

namespace q274 {

namespace {
QString MqttHostName() { return QSysInfo::machineHostName(); }
} // namespace

void TfrmMain::BuildBrokerBox()
{
    FBrokerBox = new TBrokerBox;
    FBrokerBox->ShowDefaultPrefix(DefaultMqttPrefix(MqttHostName()));
    FAlarmsPage->BrokerArea()->addWidget(FBrokerBox);
    FBrokerBox->OnChanged = [this] {
        Guarded([this] {
            const MqttSettings s = FBrokerBox->Settings();
            // Leaving a field unchanged is no change: nothing reconnects.
            if (!(s == FMqtt))
                SetMqttSettings(s);
        });
    };
    // Every change of the settings, from the page or a profile, reaches the
    // link once; the link itself ignores settings it already uses.
    connect(this, &TfrmMain::MqttSettingsChanged, this,
            [this](const MqttSettings &s) { Guarded([this, s] { ApplyMqtt(s); }); });
    connect(this, &TfrmMain::AlarmChanged, this, [this](const AlarmEvent &e) { FMqttLink->Alarm(e); });
}

void TfrmMain::MakeMqttLink()
{
    FMqttLink = std::make_unique<TMqttLink>([this](const QString &line) { LogMessage(MessageIndent + line); },
                                            MqttHostName());
}

void TfrmMain::ApplyMqtt(const MqttSettings &settings)
{
    if (!(FBrokerBox->Settings() == settings))
        FBrokerBox->Show(settings);
    FMqttLink->Apply(settings);
}

void TfrmMain::PublishSettings()
{
    std::array<ChannelSettings, 4> channels;
    for (int ch = 1; ch <= 4; ++ch)
        channels[std::size_t(ch - 1)] = Channels.Settings(ch);
    FMqttLink->Settings(UseFahrenheit, channels);
}

void TfrmMain::PublishRelays()
{
    FMqttLink->Relays({Channels.RelayOn(1), Channels.RelayOn(2), Channels.RelayOn(3), Channels.RelayOn(4)});
}

} // namespace q274
