// A real broker and a subscriber for the MQTT tests: a mosquitto process on a
// free loopback port with its own configuration in a temporary folder, and a
// libmosquitto subscriber that keeps every message it sees.
#pragma once

#include "childprocess.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <mosquitto.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace q274test {

inline const char *const kMosquittoPath = "/usr/sbin/mosquitto";

inline bool MosquittoInstalled() { return ::access(kMosquittoPath, X_OK) == 0; }

// A loopback port nobody listens on right now.
inline int FreeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

inline bool Listening(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// A mosquitto broker of the test's own; stopped with the object.
class TestBroker {
public:
    // extra: more lines for the configuration (a password file...), where
    // @DIR@ stands for the broker's own folder.
    explicit TestBroker(QString extra = {}) : FPort(FreeLoopbackPort())
    {
        extra.replace(QStringLiteral("@DIR@"), FDir.path());
        FConfig = FDir.filePath(QStringLiteral("mosquitto.conf"));
        QFile f(FConfig);
        if (f.open(QIODevice::WriteOnly))
            // Started as root, mosquitto would become user mosquitto, who may
            // not read our folder; "user" keeps it as whoever started it.
            f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous %2\npersistence false\nlog_dest none\n"
                                   "user %4\n%3\n")
                        .arg(FPort)
                        .arg(extra.contains(QLatin1String("password_file")) ? QStringLiteral("false")
                                                                             : QStringLiteral("true"))
                        .arg(extra, QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name))
                        .toUtf8());
    }
    int Port() const { return FPort; }
    QString Folder() const { return FDir.path(); }

    // Starts the broker and waits until it takes connections.
    bool Start()
    {
        FProcess = std::make_unique<ChildProcess>(kMosquittoPath, std::vector<std::string>{"-c", FConfig.toStdString()});
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (Listening(FPort))
                return true;
            if (!FProcess->Running())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void Stop() { FProcess.reset(); }

private:
    QTemporaryDir FDir;
    int FPort;
    QString FConfig;
    std::unique_ptr<ChildProcess> FProcess;
};

// Subscribes to a filter and keeps what arrives (on libmosquitto's thread).
class TestSubscriber {
public:
    struct Message {
        std::string Topic;
        std::string Payload;
        bool Retained;
    };

    TestSubscriber(int port, const std::string &filter)
    {
        mosquitto_lib_init();
        FMosq = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(FMosq, [](mosquitto *, void *self, const mosquitto_message *m) {
            auto *me = static_cast<TestSubscriber *>(self);
            std::lock_guard lock(me->FMutex);
            me->FMessages.push_back({m->topic, std::string(static_cast<const char *>(m->payload), size_t(m->payloadlen)),
                                     m->retain});
        });
        mosquitto_subscribe_callback_set(FMosq, [](mosquitto *, void *self, int, int, const int *) {
            auto *me = static_cast<TestSubscriber *>(self);
            std::lock_guard lock(me->FMutex);
            me->FSubscribed = true;
        });
        FOk = mosquitto_connect(FMosq, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS
              && mosquitto_subscribe(FMosq, nullptr, filter.c_str(), 1) == MOSQ_ERR_SUCCESS
              && mosquitto_loop_start(FMosq) == MOSQ_ERR_SUCCESS;
    }
    ~TestSubscriber()
    {
        mosquitto_disconnect(FMosq);
        mosquitto_loop_stop(FMosq, false);
        mosquitto_destroy(FMosq);
    }
    bool Ok() const { return FOk; }
    bool Subscribed()
    {
        std::lock_guard lock(FMutex);
        return FSubscribed;
    }
    std::vector<Message> Messages()
    {
        std::lock_guard lock(FMutex);
        return FMessages;
    }
    // The messages of one topic, oldest first.
    std::vector<std::string> Payloads(const std::string &topic)
    {
        std::vector<std::string> out;
        for (const Message &m : Messages())
            if (m.Topic == topic)
                out.push_back(m.Payload);
        return out;
    }
    void Clear()
    {
        std::lock_guard lock(FMutex);
        FMessages.clear();
    }

private:
    mosquitto *FMosq = nullptr;
    bool FOk = false;
    std::mutex FMutex;
    std::vector<Message> FMessages;
    bool FSubscribed = false;
};

// Polls done() until it holds or the time is up, without an event loop.
inline bool Eventually(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace q274test
