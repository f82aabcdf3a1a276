#include "accessnames.h"

namespace q274 {

QString ChannelAccessibleName(int channel, const QString &what)
{
    return QStringLiteral("Channel %1 %2").arg(channel).arg(what);
}

QString ReadoutAccessibleName(int channel, const QString &shown, bool fahrenheit)
{
    const QString value = shown.trimmed();
    // " -" and "-" are what the read-out shows without a value.
    if (value.isEmpty() || value == QLatin1String("-"))
        return ChannelAccessibleName(channel, QStringLiteral("temperature, no reading"));
    return ChannelAccessibleName(channel, QStringLiteral("temperature ")) + value
           + (fahrenheit ? QStringLiteral(" °F") : QStringLiteral(" °C"));
}

QString RelayLampAccessibleName(int channel, std::optional<bool> on)
{
    const QString state = !on ? QStringLiteral("unknown") : *on ? QStringLiteral("on") : QStringLiteral("off");
    return QStringLiteral("Relay %1 %2").arg(channel).arg(state);
}

} // namespace q274
