// The signals that ask the program to end (a shutdown's or `systemctl
// stop`'s SIGTERM, a logout's SIGHUP, Ctrl+C's SIGINT), turned into a call
// on the user-interface thread. The handler only writes a byte into a pipe;
// everything else runs from the event loop.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace q274 {

class TQuitSignals : public QObject {
public:
    // One object at a time; onSignal gets the signal's number.
    explicit TQuitSignals(std::function<void(int)> onSignal, QObject *parent = nullptr);
    // Puts the default handling back.
    ~TQuitSignals() override;

private:
    static void Handler(int signal);

    std::function<void(int)> FOnSignal;
    QSocketNotifier *FNotifier = nullptr;
};

} // namespace q274
