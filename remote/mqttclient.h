// The connection to the MQTT broker, on a thread of its own: it connects
// (with "offline" on <prefix>/status as the retained last will), announces
// "online", sends the retained state and then whatever waits in the outbox,
// and after a loss tries again with back-off. Nothing here waits for the
// user-interface thread and nothing the user-interface thread calls waits
// for the network, so a slow, gone or refusing broker never delays the
// window or the serial link. It subscribes to nothing: nothing that comes
// from the broker can change the run.
#pragma once

#include "outbox.h"

#include <QString>

#include <atomic>
#include <functional>
#include <thread>

struct mosquitto;

namespace q274 {

struct MqttClientSettings {
    QString Host;
    int Port = 1883;
    QString TlsCa; // CA file; empty: plain TCP
    QString User;  // empty: no user name
    QString Password;
    QString Prefix; // the topics' prefix, as used
    int KeepAliveS = 30;
    int ConnectTimeoutMs = 10000; // a broker that does not answer by then counts as a failure

    bool operator==(const MqttClientSettings &) const = default;
};

class TMqttClient {
public:
    // report gets one line per loss, recovery and failure (never the
    // password). It is called from the client's thread and, for the outbox's
    // overflow, from the thread that publishes; it must not block.
    using Report = std::function<void(const QString &line)>;

    TMqttClient(MqttClientSettings settings, Report report,
                std::size_t capacity = TMqttOutbox::kDefaultCapacity);
    ~TMqttClient();

    TMqttClient(const TMqttClient &) = delete;
    TMqttClient &operator=(const TMqttClient &) = delete;

    void Start();
    // Says "offline" to a connected broker, disconnects and ends the thread.
    // Waits at most about a second for the broker.
    void Stop();

    // Any thread; never waits for the network.
    void Publish(MqttMessage message);

    bool Connected() const { return FConnected.load(); }
    // Connections made since Start (1 after the first, 2 after a recovery...).
    int Connections() const { return FConnections.load(); }
    TMqttOutbox &Outbox() { return FOutbox; }
    const TMqttOutbox &Outbox() const { return FOutbox; }
    // Connection attempts since Start, failed or not.
    int Attempts() const { return FAttempts.load(); }
    const MqttClientSettings &Settings() const { return FSettings; }
    // "host:port", as the report lines name the broker.
    QString BrokerName() const;

private:
    void Run();
    bool Attempt(mosquitto *&m);
    void Serve(mosquitto *m);
    void SendState(mosquitto *m);
    void Feed(mosquitto *m);
    void Failed(const QString &reason, bool wasConnected);
    void SayGoodbye(mosquitto *m);
    // Sleeps ms, or less when told to stop.
    void Nap(int ms);
    void Wake();
    void Say(const QString &line) const;

    const MqttClientSettings FSettings;
    const Report FReport;
    TMqttOutbox FOutbox;

    std::atomic<bool> FStop{false};
    std::atomic<bool> FConnected{false};
    std::atomic<int> FConnections{0};
    std::atomic<int> FAttempts{0};
    int FWakeFd = -1; // eventfd: new messages or stop

    // Client thread only.
    int FFailures = 0;         // failed attempts and losses since the last connection
    bool FFailureSaid = false; // the current outage has been reported
    int FConnack = -1;         // the broker's answer to our last connect; -1: none yet
    bool FLostSeen = false;    // the library reported the connection gone

    std::thread FThread;
};

} // namespace q274
