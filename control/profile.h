// A profile: everything the user sets for a run, in one INI file people may
// also write by hand. Reading checks the whole file before anything of it is
// used, so a damaged or out-of-range file changes nothing; writing replaces
// the file in one step, so a crash mid-write leaves the old one whole.
#pragma once

#include "channelsettings.h"
#include "runsettings.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace q274 {

inline const QString kPolicyHide = QStringLiteral("HideErrorsAndContinue");
inline const QString kPolicyLog = QStringLiteral("LogErrorsAndContinue");
inline const QString kPolicyStop = QStringLiteral("StopOnErrors");

struct PortProfile {
    QString Name; // empty: the program's own default port
    int Baud = 9600;
    QString Policy = kPolicyStop;

    bool operator==(const PortProfile &) const = default;
};

struct Profile {
    PortProfile Port;
    bool Fahrenheit = false;
    bool Logging = true;
    UnattendedSettings Unattended;
    std::array<ChannelSettings, 4> Channels{};
    AlarmSettings Alarms;
    // Only a profile with an [mqtt] section publishes; one without keeps the
    // section out when written back.
    bool HasMqtt = false;
    MqttSettings Mqtt;

    bool operator==(const Profile &) const = default;
};

// The baud rates a profile may name (those of the port setup dialog).
bool IsProfileBaud(int baud);

struct ProfileParse {
    std::optional<Profile> Value; // set on success
    int Line = 0;                 // line of the fault; 0: the file as a whole
    QString Error;                // one message naming the line and the key
};

// Missing keys keep their defaults; unknown sections or keys, repeated keys,
// lines that are neither, and values out of range are refused.
ProfileParse ParseProfile(const QByteArray &text);
QByteArray SerializeProfile(const Profile &profile);

// Alarm limits are written and read with a '.' whatever the locale.
QString LimitText(const std::optional<double> &limit);

struct ProfileRead {
    enum class Status { Ok, Missing, Refused, Unreadable } Status = Status::Ok;
    Profile Value;  // defaults unless Ok
    QString Error;  // Refused/Unreadable: the message for the log
};

ProfileRead ReadProfileFile(const QString &path);
// Writes through a temporary file renamed over the old one; false with the
// reason in *error when the file could not be replaced.
bool WriteProfileFile(const QString &path, const Profile &profile, QString *error = nullptr);

} // namespace q274
