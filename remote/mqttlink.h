// The window's one way to the broker. It keeps what the run last said
// (readings, relays, settings, the link, alarms) and, only while broker
// settings are set, one publisher to say it to. New settings that name
// another broker, user or prefix replace the publisher, which is then given
// the whole state; the same settings again change nothing, so a settings
// signal that comes back round never reconnects.
#pragma once

#include "alarms.h"
#include "publisher.h"

#include <QDateTime>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace q274 {

class TMqttLink {
public:
    // log: the client's report lines, handed to it on the user-interface
    // thread. hostName: for the default prefix.
    TMqttLink(std::function<void(const QString &)> log, QString hostName);
    ~TMqttLink();

    TMqttLink(const TMqttLink &) = delete;
    TMqttLink &operator=(const TMqttLink &) = delete;

    // Starts, replaces or ends publishing; true when a new publisher started.
    bool Apply(const MqttSettings &settings);
    // The running publisher; none without broker settings.
    TMqttPublisher *Publisher() const { return FPublisher.get(); }

    void Reading(int channel, std::optional<double> celsius);
    void Relays(const std::array<bool, 4> &relayOn);
    void Settings(bool fahrenheit, const std::array<ChannelSettings, 4> &channels);
    void Link(bool connected);
    void Alarm(const AlarmEvent &event);
    void DataLine(const QDateTime &time);

private:
    void SendAll();
    // A replaced client ends (saying "offline", which may wait on the
    // network) on a thread of its own, and its successor starts only then,
    // so the status topic ends "online" and the window never waits.
    void Handover(std::unique_ptr<TMqttPublisher> old, TMqttClient *next);
    void JoinHandover();

    std::function<void(const QString &)> FLog;
    QString FHostName;
    std::shared_ptr<int> FAlive = std::make_shared<int>(0); // reports posted after the end are dropped
    std::optional<MqttClientSettings> FClientSettings;
    std::unique_ptr<TMqttPublisher> FPublisher;
    std::thread FHandover;

    std::array<std::optional<double>, 4> FCelsius{};
    std::optional<std::array<bool, 4>> FRelays;
    std::optional<std::pair<bool, std::array<ChannelSettings, 4>>> FSettings;
    bool FLink = false;
    std::array<unsigned, 5> FAlarmKinds{}; // the link's (0) and each channel's kinds now active, as bits
};

} // namespace q274
