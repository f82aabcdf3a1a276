// Polling the board, all in one place: the 75 ms sender with its stop and
// wait (a command leaves only once the previous one was answered by a whole
// line), the identification follow-up, the 900 ms rotation of the channel
// queries, the one relay status query after the first reading, and the
// decision which reply lines are temperatures for the read-outs.
#pragma once

#include "commandqueue.h"
#include "threadedtimer.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace q274 {

class TPoller {
public:
    // The line the commands go out on: whether it is open, and a write.
    struct Line {
        std::function<bool()> Connected;
        std::function<void(const std::string &)> Write;
    };

    explicit TPoller(Line line);
    ~TPoller(); // stops the timers before anything they touch is gone
    TPoller(const TPoller &) = delete;
    TPoller &operator=(const TPoller &) = delete;

    // Sender, identification follow-up (one-shot), rotation, status query
    // after the first reading (one-shot). Handlers run on the UI thread.
    std::unique_ptr<TThreadedTimer> tmrQ, tmrTStatus, tmrTemp, tmrRStatus;

    // A command may leave: the previous one has been answered.
    bool ReadyToSend = false;
    // Temperature replies reach the read-outs (after the identification
    // follow-up, until the connection ends).
    bool TemperaturesEnabled = false;
    CommandSender CommandQueue;

    int NextChannel() const { return FRotation.NextChannel(); }
    // Queues a command for the sender and wakes it.
    void QueueCommand(const std::string &command);

    // Connection events.
    void ConnectionOpened();  // nothing leaves before the board's first answer
    void LineReceived();      // a whole reply line arrived
    void BoardIdentified();   // starts the 250 ms follow-up
    void FirstReadingShown(); // starts the 200 ms relay status query
    void ConnectionClosed();  // polling and one-shots stop, the queue empties
    // Whether a reply line goes to the read-outs.
    bool RoutesTemperature(const QString &line) const;

    void StartCommandSender();
    void StartTemperaturePolling();
    void StopTemperaturePolling();

    // Timer handlers.
    void tmrQTimer();
    void tmrTStatusTimer();
    void tmrTempTimer();
    void tmrRStatusTimer();

    // Runs when polling stops (the data lines end with it).
    std::function<void()> OnPollingStopped;

private:
    Line FLine;
    TemperatureRotation FRotation;
};

} // namespace q274
