// The outgoing side of the board conversation: the first-in first-out command
// queue with its stop-and-wait sender step, and the rotation of the
// single-channel temperature queries.
#pragma once

#include <deque>
#include <functional>
#include <string>

namespace q274 {

class CommandSender {
public:
    // Appends a command; no checks, duplicates are kept.
    void QueueCommand(const std::string &command) { CommandQueue.push_back(command); }
    void Clear() { CommandQueue.clear(); }
    const std::deque<std::string> &Items() const { return CommandQueue; }

    // One step of the 75 ms sender. Nothing happens while not connected,
    // with an empty queue or while the previous command is unanswered
    // (readyToSend false). Otherwise the head item, trimmed of blanks and
    // control characters, is written when not empty (readyToSend cleared
    // first; a relay command, one holding 'F' or 'N', queues "S0" behind
    // it) and removed from the queue. If write throws, the item stays at
    // the head, readyToSend stays false and the exception propagates.
    // Returns true when a command was written.
    bool Tick(bool connected, bool &readyToSend, const std::function<void(const std::string &)> &write);

private:
    std::deque<std::string> CommandQueue;
};

// Removes leading and trailing bytes up to 0x20.
std::string TrimCommand(const std::string &command);

// The polling rotation "T1", "T2", "T3", "T4", "T1", ...
class TemperatureRotation {
public:
    int NextChannel() const { return FNextChannel; }
    // The query for NextChannel; advances the rotation.
    std::string Next();
    void Reset() { FNextChannel = 1; }

private:
    int FNextChannel = 1;
};

} // namespace q274
