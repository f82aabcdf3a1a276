// Messages on their way to the broker, between the user-interface thread that
// makes them and the client thread that sends them. While the broker is away
// they wait here up to a bound; past it the oldest go, so memory stays flat
// however long the broker stays away. The last value of every retained topic
// is also kept apart, so that a broker that lost them (a restart) gets the
// whole state again at the next connection.
#pragma once

#include "mqttmessages.h"

#include <QHash>

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace q274 {

class TMqttOutbox {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;

    explicit TMqttOutbox(std::size_t capacity = kDefaultCapacity) : FCapacity(capacity ? capacity : 1) {}

    struct PushResult {
        bool Dropped = false;      // the oldest waiting message went to make room
        bool FirstDropped = false; // and it is the first since the queue was last drained
        bool WasEmpty = false;     // nothing waited before it: the sender may be asleep
    };
    PushResult Push(MqttMessage message);

    // Takes up to max waiting messages, oldest first. A drained queue makes
    // the next drop a first one again.
    std::vector<MqttMessage> Take(std::size_t max);
    // The last message of every retained topic, in the order the topics
    // first came.
    std::vector<MqttMessage> RetainedState() const;
    // The same, for a new connection: the retained messages still waiting
    // leave the queue, since the state holds each topic's newest value, so
    // a newcomer gets every retained topic once.
    std::vector<MqttMessage> TakeRetainedState();

    std::size_t Waiting() const;
    std::size_t Capacity() const { return FCapacity; }
    // Messages dropped since construction.
    std::size_t DroppedTotal() const;

private:
    const std::size_t FCapacity;
    mutable std::mutex FMutex;
    std::deque<MqttMessage> FQueue;
    QHash<QString, std::size_t> FRetainedIndex; // topic -> place in FRetained
    std::vector<MqttMessage> FRetained;
    std::size_t FDropped = 0;
    bool FDropping = false;
};

// The wait before the next connection attempt after failures in a row
// (failures >= 1): half a second, doubling up to 30 s, so a broker that comes
// back soon is found soon and one that stays away costs a try every 30 s.
int MqttRetryDelayMs(int failures);

} // namespace q274
