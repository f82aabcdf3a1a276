// Alarms as plain latch logic: per channel a low and a high limit in the unit
// shown and "no reading" (missing, or the same text for too long), and for
// the link "no reading from the board". An alarm starts once, clears once,
// and stays shown until acknowledged; a start while it is still shown is
// not reported again. Time comes in as milliseconds of a steady clock.
#pragma once

#include "runsettings.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace q274 {

enum class AlarmKind { Low, High, NoReading, SilentLink };

// One start or clear; Channel 0 for the link.
struct AlarmEvent {
    int Channel = 0;
    AlarmKind Kind = AlarmKind::High;
    bool Started = true; // false: cleared
    QString Reading;     // the read-out as shown, trimmed; empty for the link
    QString Text;        // the log line, without the log's indent

    bool operator==(const AlarmEvent &) const = default;
};

// "low", "high", "no_reading", "silent_link": the kind in a command's environment.
QString AlarmKindName(AlarmKind kind);
// What the read-out shows while the alarm is shown: "LOW", "HIGH", "NO READING", "NO LINK".
QString AlarmBadge(AlarmKind kind);

class TAlarmMonitor {
public:
    // watched: the channels "no reading" applies to (a channel nobody uses
    // shows " -" all day and must not raise it).
    void SetSettings(const AlarmSettings &settings, const std::array<bool, 4> &watched);
    const AlarmSettings &Settings() const { return FSettings; }

    // The link: wanted from Connect (or a reconnect series) until the user
    // disconnects; every reply line counts as a sign of life.
    void SetLinkWanted(bool wanted, qint64 now);
    void LineReceived(qint64 now);
    // A channel's read-out as shown and its value in the unit shown (none
    // for " -" or no number).
    void Reading(int channel, const QString &readout, std::optional<double> value, qint64 now);
    // The read-outs were cleared at a disconnect: nothing to compare.
    void ReadingsCleared();

    std::vector<AlarmEvent> Evaluate(qint64 now);
    // Ends every latch; alarms whose cause goes on stay shown without a new start.
    void Acknowledge();

    // The alarm a channel shows (its own first, then the link's); none: no alarm.
    std::optional<AlarmKind> Shown(int channel) const;
    bool AnyShown() const;

private:
    struct State {
        bool Active = false;
        bool Latched = false;
        bool ClearLogged = true;
    };
    struct Channel {
        QString Readout;
        std::optional<double> Value;
        bool Known = false;   // a reading arrived since the link came up
        qint64 Since = 0;     // when Readout last changed
    };
    void Step(State &s, bool active, int channel, AlarmKind kind, const QString &reading,
              std::vector<AlarmEvent> &out);
    QString Describe(int channel, AlarmKind kind, bool started, const QString &reading) const;
    State &StateOf(int channel, AlarmKind kind);
    const State &StateOf(int channel, AlarmKind kind) const;

    AlarmSettings FSettings;
    std::array<bool, 4> FWatched{};
    std::array<Channel, 4> FChannels{};
    std::array<std::array<State, 3>, 4> FStates{}; // Low, High, NoReading per channel
    State FLink;
    bool FLinkWanted = false;
    qint64 FLastLine = 0;
};

} // namespace q274
