#include "relays.h"

namespace q274 {

std::array<bool, 4> RelayFlags(unsigned status)
{
    return {(status & 1u) != 0, (status & 2u) != 0, (status & 4u) != 0, (status & 8u) != 0};
}

std::optional<ManualAction> ManualPress(int channel, bool connected, const ChannelSettings &settings, bool relayOn)
{
    if (!connected)
        return std::nullopt;
    ManualAction action;
    action.ClearEnabled = settings.ManualOverrides;
    const std::string digit = std::to_string(channel);
    action.Command = (relayOn ? "F" : "N") + digit;
    action.Message = QStringLiteral("Manual - R") + QString::fromStdString(digit)
                     + (relayOn ? QStringLiteral(" - OFF") : QStringLiteral(" - ON"));
    return action;
}

} // namespace q274
