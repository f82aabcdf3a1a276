#include "mqttclient.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <algorithm>
#include <mutex>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace q274 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdlePollMs = 1000; // keep-alive pings are due far less often
constexpr std::size_t kBatch = 64;

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString ReasonOf(int rc, int savedErrno)
{
    switch (rc) {
    case MOSQ_ERR_EAI: return QStringLiteral("unknown host");
    case MOSQ_ERR_ERRNO: return QString::fromLocal8Bit(std::strerror(savedErrno)).toLower();
    case MOSQ_ERR_TLS: return QStringLiteral("TLS handshake failed (check the CA file and the port)");
    case MOSQ_ERR_CONN_LOST: return QStringLiteral("connection lost");
    case MOSQ_ERR_PROTOCOL: return QStringLiteral("the broker broke the protocol (TLS expected?)");
    case MOSQ_ERR_KEEPALIVE: return QStringLiteral("the broker stopped answering");
    default: return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

int Left(Clock::time_point until)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return ms < 0 ? 0 : int(ms);
}

extern "C" void OnConnect(struct mosquitto *, void *user, int rc)
{
    // Runs inside mosquitto_loop on the client thread; the loop acts on it.
    *static_cast<int *>(user) = rc;
}

} // namespace

TMqttClient::TMqttClient(MqttClientSettings settings, Report report, std::size_t capacity)
    : FSettings(std::move(settings)), FReport(std::move(report)), FOutbox(capacity)
{
    FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TMqttClient::~TMqttClient()
{
    Stop();
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

QString TMqttClient::BrokerName() const { return QStringLiteral("%1:%2").arg(FSettings.Host).arg(FSettings.Port); }

void TMqttClient::Say(const QString &line) const
{
    if (FReport)
        FReport(QStringLiteral("MQTT: ") + line);
}

void TMqttClient::Start()
{
    if (FThread.joinable())
        return;
    InitLibrary();
    FStop = false;
    FThread = std::thread([this] { Run(); });
}

void TMqttClient::Stop()
{
    if (!FThread.joinable())
        return;
    FStop = true;
    Wake();
    FThread.join();
}

void TMqttClient::Publish(MqttMessage message)
{
    const TMqttOutbox::PushResult pushed = FOutbox.Push(std::move(message));
    if (pushed.FirstDropped)
        Say(QStringLiteral("broker %1 away, %2 messages waiting; the oldest are dropped from now on")
                .arg(BrokerName())
                .arg(FOutbox.Capacity()));
    // The thread drains the queue before it sleeps, so only the first
    // message after a drain has to wake it: one system call a burst, not
    // one a message.
    if (pushed.WasEmpty)
        Wake();
}

void TMqttClient::Wake()
{
    if (FWakeFd >= 0) {
        const eventfd_t one = 1;
        [[maybe_unused]] const auto n = ::write(FWakeFd, &one, sizeof one);
    }
}

void TMqttClient::Nap(int ms)
{
    // New messages wake us too, but only a stop may cut the wait short: a
    // flood of messages must not become a flood of connection attempts.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!FStop && Clock::now() < until) {
        pollfd p{FWakeFd, POLLIN, 0};
        if (::poll(&p, 1, std::max(1, Left(until))) > 0) {
            eventfd_t value;
            [[maybe_unused]] const auto n = ::read(FWakeFd, &value, sizeof value);
        }
    }
}

void TMqttClient::Failed(const QString &reason, bool wasConnected)
{
    ++FFailures;
    if (!FFailureSaid) {
        FFailureSaid = true;
        Say(wasConnected ? QStringLiteral("broker %1 lost (%2); trying again").arg(BrokerName(), reason)
                         : QStringLiteral("cannot connect to broker %1 (%2); trying again").arg(BrokerName(), reason));
    }
}

void TMqttClient::Run()
{
    // A write to a socket the broker closed must give an error here, not end
    // the program (TLS writes do not ask the kernel to spare the signal).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    while (!FStop) {
        mosquitto *m = nullptr;
        if (Attempt(m))
            Serve(m);
        if (m)
            mosquitto_destroy(m);
        if (!FStop)
            Nap(MqttRetryDelayMs(FFailures));
    }
}

// A fresh session for every attempt: a half-open connection of an earlier
// one can never linger in the library.
bool TMqttClient::Attempt(mosquitto *&m)
{
    ++FAttempts;
    m = mosquitto_new(nullptr, true, &FConnack);
    if (!m) {
        Failed(QStringLiteral("out of memory"), false);
        return false;
    }
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const QByteArray status = StatusTopic(FSettings.Prefix).toUtf8();
    mosquitto_will_set(m, status.constData(), int(kOffline.size()), kOffline.constData(), 1, true);
    if (!FSettings.User.isEmpty()) {
        const QByteArray user = FSettings.User.toUtf8();
        const QByteArray password = FSettings.Password.toUtf8();
        mosquitto_username_pw_set(m, user.constData(), FSettings.Password.isEmpty() ? nullptr : password.constData());
    }
    if (!FSettings.TlsCa.isEmpty()) {
        const QByteArray ca = FSettings.TlsCa.toLocal8Bit();
        const int rc = mosquitto_tls_set(m, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            Failed(QStringLiteral("the CA file %1 cannot be used").arg(FSettings.TlsCa), false);
            return false;
        }
    }
    mosquitto_connect_callback_set(m, OnConnect);

    FConnack = -1;
    const QByteArray host = FSettings.Host.toUtf8();
    errno = 0;
    const int rc = mosquitto_connect_async(m, host.constData(), FSettings.Port, FSettings.KeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        Failed(ReasonOf(rc, errno), false);
        return false;
    }
    return true;
}

void TMqttClient::Serve(mosquitto *m)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(FSettings.ConnectTimeoutMs);
    bool connected = false;
    while (!FStop) {
        if (!connected && FConnack == 0) {
            connected = true;
            FConnected = true;
            ++FConnections;
            FFailures = 0;
            FFailureSaid = false;
            Say(QStringLiteral("connected to broker %1, topics under %2/").arg(BrokerName(), FSettings.Prefix));
            SendState(m);
        } else if (!connected && FConnack > 0) {
            Failed(QString::fromUtf8(mosquitto_connack_string(FConnack)), false);
            return;
        } else if (!connected && Clock::now() >= deadline) {
            Failed(QStringLiteral("no answer within %1 s").arg(FSettings.ConnectTimeoutMs / 1000), false);
            return;
        }
        if (connected)
            Feed(m);

        const bool more = connected && FOutbox.Waiting() > 0 && !mosquitto_want_write(m);
        pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {mosquitto_socket(m), POLLIN, 0}};
        if (mosquitto_want_write(m))
            fds[1].events |= POLLOUT;
        const int timeout = more ? 0 : connected ? kIdlePollMs : std::min(kIdlePollMs, Left(deadline));
        ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
        if (fds[0].revents & POLLIN) {
            eventfd_t value;
            [[maybe_unused]] const auto n = ::read(FWakeFd, &value, sizeof value);
        }
        errno = 0;
        const int rc = mosquitto_loop(m, 0, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            FConnected = false;
            // Refused (wrong password, not allowed): the broker's own words.
            Failed(!connected && FConnack > 0 ? QString::fromUtf8(mosquitto_connack_string(FConnack))
                                              : ReasonOf(rc, errno),
                   connected);
            return;
        }
    }
    if (connected)
        SayGoodbye(m);
    FConnected = false;
}

void TMqttClient::SendState(mosquitto *m)
{
    const QByteArray status = StatusTopic(FSettings.Prefix).toUtf8();
    mosquitto_publish(m, nullptr, status.constData(), int(kOnline.size()), kOnline.constData(), 1, true);
    // The broker may have restarted without what we left retained.
    for (const MqttMessage &message : FOutbox.TakeRetainedState()) {
        const QByteArray topic = message.Topic.toUtf8();
        mosquitto_publish(m, nullptr, topic.constData(), int(message.Payload.size()), message.Payload.constData(), 0,
                          true);
    }
}

void TMqttClient::Feed(mosquitto *m)
{
    // Only as fast as the socket takes them: what the library holds is not
    // bounded, what the outbox holds is.
    if (mosquitto_want_write(m))
        return;
    for (const MqttMessage &message : FOutbox.Take(kBatch)) {
        const QByteArray topic = message.Topic.toUtf8();
        mosquitto_publish(m, nullptr, topic.constData(), int(message.Payload.size()), message.Payload.constData(), 0,
                          message.Retained);
    }
}

void TMqttClient::SayGoodbye(mosquitto *m)
{
    // A clean end sends no will, so we say it ourselves.
    const QByteArray status = StatusTopic(FSettings.Prefix).toUtf8();
    mosquitto_publish(m, nullptr, status.constData(), int(kOffline.size()), kOffline.constData(), 1, true);
    mosquitto_disconnect(m);
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(1000);
    while (Clock::now() < until && mosquitto_socket(m) >= 0) {
        pollfd p{mosquitto_socket(m), short(POLLIN | (mosquitto_want_write(m) ? POLLOUT : 0)), 0};
        ::poll(&p, 1, std::min(100, Left(until)));
        if (mosquitto_loop(m, 0, 1) != MOSQ_ERR_SUCCESS)
            break;
    }
}

} // namespace q274
