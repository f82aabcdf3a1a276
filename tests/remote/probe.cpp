// q274-mqtt-probe HOST PORT PREFIX: a publisher of its own process for the
// tests, so that one can be killed outright. Prints the client's report
// lines, publishes PREFIX/probe once and waits to be killed.
#include "mqttclient.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    q274::MqttClientSettings s;
    s.Host = QString::fromLocal8Bit(argv[1]);
    s.Port = std::atoi(argv[2]);
    s.Prefix = QString::fromLocal8Bit(argv[3]);
    q274::TMqttClient client(s, [](const QString &line) {
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    });
    client.Start();
    client.Publish({s.Prefix + QStringLiteral("/probe"), "hello", false});
    for (;;)
        ::pause();
}
