// Relay status and the manual relay buttons as plain functions.
#pragma once

#include "channelsettings.h"

#include <QString>

#include <array>
#include <optional>
#include <string>

namespace q274 {

// Relay N is on when bit N-1 of the status value is set.
std::array<bool, 4> RelayFlags(unsigned status);

struct ManualAction {
    bool ClearEnabled = false; // the press ends automatic control of the channel
    std::string Command;       // "N1".."N4" or "F1".."F4"
    QString Message;           // "Manual - R1 - ON", without MessageIndent
};

// A press of channel's manual relay button: nullopt (ignored) while not
// connected; otherwise toggles from the reported relay state, and ends
// automatic control when ManualOverrides is on. The caller clears Enabled
// (and its box), applies the settings, queues Command, then logs Message.
std::optional<ManualAction> ManualPress(int channel, bool connected, const ChannelSettings &settings, bool relayOn);

} // namespace q274
