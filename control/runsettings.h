// What the user sets for a run beyond the channel panels: alarm limits and
// their actions, the connection's unattended behaviour and the MQTT
// publisher. Plain values with off as every default, so a run that sets none
// of them behaves as a plain start does; the profile file, the Alarms page
// and the window read and write them.
#pragma once

#include <QString>

#include <array>
#include <optional>

namespace q274 {

// Limits of one channel, bare numbers in the unit shown (as set points are).
struct ChannelAlarmLimits {
    std::optional<double> Low;  // none: no low alarm
    std::optional<double> High; // none: no high alarm

    bool operator==(const ChannelAlarmLimits &) const = default;
};

struct AlarmSettings {
    std::array<ChannelAlarmLimits, 4> Limits{}; // channels 1..4
    // "No reading from the board" after this many seconds without a reply
    // line while a connection is wanted; 0: off.
    int SilentLinkS = 0;
    // A channel whose reading is missing (" -") or has not changed at all for
    // this many seconds; 0: off.
    int NoReadingS = 0;
    // Run (never through a shell) at every alarm start; empty: none.
    QString Command;

    bool operator==(const AlarmSettings &) const = default;
};

struct UnattendedSettings {
    bool Reconnect = false;             // try the same board again after a lost link
    bool ConnectAtStart = false;        // connect as soon as the window is up
    bool RelaysOffOnDisconnect = false; // thermostat relays off before the port closes

    bool operator==(const UnattendedSettings &) const = default;
};

struct MqttSettings {
    QString Host; // empty: no publishing
    int Port = 1883;
    QString TlsCa; // CA file; empty: no TLS
    QString User;
    QString Password;
    bool StorePassword = true; // false: the profile never holds the password
    QString Prefix;            // empty: "q274/" and the board's or host's name

    bool Enabled() const { return !Host.isEmpty(); }
    bool operator==(const MqttSettings &) const = default;
};

} // namespace q274
