// The working settings of one channel, as read from its panel.
#pragma once

#include <QString>

namespace q274 {

struct ChannelSettings {
    bool Enabled = false;
    int SetPoint = 30;
    int Dropout = 3;
    QString Mode = QStringLiteral("Heat"); // "Heat" or "Cool", compared as text
    bool ManualOverrides = true;

    bool operator==(const ChannelSettings &) const = default;
};

constexpr int kSetPointMin = -15;
constexpr int kSetPointMax = 150;
constexpr int kDropoutMin = 2;
constexpr int kDropoutMax = 25;

inline const QString kModeHeat = QStringLiteral("Heat");
inline const QString kModeCool = QStringLiteral("Cool");

} // namespace q274
