// Names for assistive technology. The visible captions stay as they are (four
// panels all titled " Relay Control "); a screen reader needs to hear which
// channel a control belongs to, and what a lamp's colour says.
#pragma once

#include <QString>

#include <optional>

namespace q274 {

// "Channel 2 set point": what, for which channel.
QString ChannelAccessibleName(int channel, const QString &what);
// A read-out as heard: "Channel 1 temperature 23.5 °C"; a read-out showing
// no value: "Channel 1 temperature, no reading".
QString ReadoutAccessibleName(int channel, const QString &shown, bool fahrenheit);
// A relay lamp as heard: "Relay 1 on", "Relay 1 off"; nothing known yet:
// "Relay 1 unknown".
QString RelayLampAccessibleName(int channel, std::optional<bool> on);

} // namespace q274
