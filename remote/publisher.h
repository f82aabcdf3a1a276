// The run as MQTT messages: the window tells the publisher what happened (a
// reading, a relay status, new settings, a data line, an alarm) and the
// publisher makes the messages and hands them to the client. User-interface
// thread only; nothing here waits for the network.
#pragma once

#include "channelsettings.h"
#include "mqttclient.h"
#include "runsettings.h"

#include <QDateTime>

#include <array>
#include <memory>
#include <optional>

namespace q274 {

class TMqttPublisher {
public:
    // The client's settings from the user's: the prefix made whole from the
    // host name when the user left it empty.
    static MqttClientSettings ClientSettings(const MqttSettings &settings, const QString &hostName);

    // Starts publishing at once (the discovery and unit messages wait in the
    // outbox until the broker is there).
    TMqttPublisher(const MqttSettings &settings, const QString &hostName, TMqttClient::Report report);
    // For the tests: a client made elsewhere, not started.
    explicit TMqttPublisher(std::unique_ptr<TMqttClient> client);
    ~TMqttPublisher();

    const QString &Prefix() const { return FPrefix; }
    TMqttClient &Client() { return *FClient; }

    // One reading of a channel: Celsius from the board, or none (no sensor,
    // no number, disconnected). The reading in the unit shown goes beside it.
    void Reading(int channel, std::optional<double> celsius);
    // Every channel without a reading (the disconnected state).
    void NoReadings();
    // A relay status; only changes are sent.
    void Relays(const std::array<bool, 4> &relayOn);
    // The unit shown and the channels' settings; only changes are sent.
    void Settings(bool fahrenheit, const std::array<ChannelSettings, 4> &channels);
    // An alarm of a channel starts (active) or ends; channel 0 is the board's
    // own (no reading from the board). Only changes are sent.
    void Alarm(int channel, bool active);
    // One data line: the last readings and relays at time.
    void DataLine(const QDateTime &time);
    // The serial link to the board is up (connected) or down; only changes
    // are sent.
    void Link(bool connected);

private:
    void Send(const QString &topic, const QByteArray &payload, bool retained = true);
    void Announce();

    std::unique_ptr<TMqttClient> FClient;
    QString FPrefix;

    bool FFahrenheit = false;
    std::array<std::optional<double>, 4> FCelsius{};
    std::optional<std::array<bool, 4>> FRelays;
    std::optional<bool> FFahrenheitSent;
    std::array<std::optional<ChannelSettings>, 4> FSettingsSent{};
    std::array<bool, 5> FAlarm{}; // board, channels 1..4
    std::optional<bool> FLink;
};

} // namespace q274
