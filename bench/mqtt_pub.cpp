// q274-mqtt-pub HOST PORT TOPIC COUNT: publishes COUNT readings on TOPIC
// through the program's own MQTT client (its thread, outbox and back-off),
// as the window does, then ends cleanly. The yardstick beside it in
// scripts/lib/bench-mqtt.py is `mosquitto_pub -l` fed the same lines.
// Publishing waits while 5 000 messages wait, so none is dropped for the
// outbox's bound: the figure is what the client sends, not what it drops.
#include "mqttclient.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s HOST PORT TOPIC COUNT\n", argv[0]);
        return 2;
    }
    q274::MqttClientSettings s;
    s.Host = QString::fromLocal8Bit(argv[1]);
    s.Port = std::atoi(argv[2]);
    s.Prefix = QStringLiteral("bench");
    const QString topic = QString::fromLocal8Bit(argv[3]);
    const int count = std::atoi(argv[4]);
    q274::TMqttClient client(s, [](const QString &line) {
        if (!line.contains(QLatin1String("connected to broker")))
            std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    });
    client.Start();
    while (!client.Connected())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int i = 0; i < count; ++i) {
        while (client.Outbox().Waiting() > 5000)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        client.Publish({topic, QByteArray::number(20 + (i % 1000) / 100.0, 'f', 2), false});
    }
    while (client.Outbox().Waiting() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    client.Stop(); // what the library still holds goes before the goodbye
    return 0;
}
