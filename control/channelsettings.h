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

constexpr int SetPointMin = -15;
constexpr int SetPointMax = 150;
constexpr int DropoutMin = 2;
constexpr int DropoutMax = 25;

inline const QString ModeHeat = QStringLiteral("Heat");
inline const QString ModeCool = QStringLiteral("Cool");

} // namespace q274
