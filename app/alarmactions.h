// What an alarm start does beyond the log: a desktop notification
// (freedesktop notifications over the session D-Bus) and, when the user
// named one, a command run without a shell, with the alarm in its
// environment and a time limit.
#pragma once

#include "alarms.h"

#include <QObject>
#include <QString>

#include <functional>

class QProcess;

namespace q274 {

// Environment of the alarm command: Q274_CHANNEL (0 for the link),
// Q274_KIND (low, high, no_reading, silent_link), Q274_READING and Q274_TEXT.
QStringList AlarmEnvironment(const AlarmEvent &event);

class TAlarmActions : public QObject {
public:
    // log: one line to the program's log (without the indent).
    explicit TAlarmActions(std::function<void(const QString &)> log, QObject *parent = nullptr);
    ~TAlarmActions() override;

    // Sent without waiting; a desktop without a notification server costs
    // one log line per run, not one per alarm.
    void Notify(const AlarmEvent &event);
    // Runs command (split like a shell would split words, but never through
    // one) once; empty: nothing.
    void RunCommand(const QString &command, const AlarmEvent &event);

    int CommandLimitMs = 10000;

private:
    std::function<void(const QString &)> FLog;
    bool FNotifyFailedLogged = false;
};

} // namespace q274
