#include "channels.h"

#include "protocol.h"
#include "textrules.h"

namespace q274 {

TChannels::TChannels() { ClearReadouts(); }

bool TChannels::ShowValue(int channel, const QString &value, const QString &noSensor, bool useFahrenheit,
                          QChar decimalSep)
{
    std::optional<QString> text = ReadoutText(value, useFahrenheit, decimalSep, noSensor);
    if (text && TrimLine(*text) != QLatin1String("-") && !ParseLocaleFloat(*text, decimalSep))
        text.reset();
    FReadouts.at(Index(channel)) = text ? *text : QStringLiteral(" -");
    return text.has_value();
}

void TChannels::ClearReadouts() { FReadouts.fill(QStringLiteral(" -")); }

bool TChannels::ApplyRelayStatus(const QString &statusText)
{
    const std::optional<unsigned> status = ParseRelayStatus(statusText);
    if (!status)
        return false;
    FRelayOn = RelayFlags(*status);
    return true;
}

std::vector<ChannelDecision> TChannels::RunChannelControl(QChar decimalSep) const
{
    return q274::RunChannelControl(FSettings, FReadouts, decimalSep, FRelayOn);
}

std::optional<ManualAction> TChannels::ManualPress(int channel, bool portOpen)
{
    if (channel < 1 || channel > 4)
        return std::nullopt;
    ChannelSettings &settings = Settings(channel);
    std::optional<ManualAction> action = q274::ManualPress(channel, portOpen, settings, RelayOn(channel));
    if (action && action->ClearEnabled)
        settings.Enabled = false;
    return action;
}

} // namespace q274
