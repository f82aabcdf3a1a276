// The four channels below the window: their settings, the read-out value of
// each (the text a read-out shows, which the thermostat and the data lines
// read), the relay flags from the last status reply, the thermostat pass and
// the manual press. Channel numbers are 1..4 here as everywhere in the
// program; the storage is 0-based.
#pragma once

#include "channelsettings.h"
#include "relays.h"
#include "thermostat.h"

#include <QChar>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace q274 {

class TChannels {
public:
    TChannels();

    ChannelSettings &Settings(int channel) { return FSettings.at(Index(channel)); }
    const ChannelSettings &Settings(int channel) const { return FSettings.at(Index(channel)); }
    bool RelayOn(int channel) const { return FRelayOn.at(Index(channel)); }
    // The read-out of a channel: a blank and the value, or " -" for none.
    const QString &Readout(int channel) const { return FReadouts.at(Index(channel)); }

    // Shows a board value on a channel (noSensor: the board's mark for a
    // missing sensor). A value that is not a number shows as no reading and
    // gives false, so the thermostat and the data lines never see it.
    bool ShowValue(int channel, const QString &value, const QString &noSensor, bool useFahrenheit, QChar decimalSep);
    // No reading on any channel (the disconnected state).
    void ClearReadouts();

    // A relay status reply: false (flags kept) when it cannot be read.
    bool ApplyRelayStatus(const QString &statusText);
    void ClearRelays() { FRelayOn.fill(false); }

    // One thermostat pass over the enabled channels with a reading.
    std::vector<ChannelDecision> RunChannelControl(QChar decimalSep) const;
    // A press of a manual relay button; ends the channel's automatic control
    // when its press overrides it. Nothing while the port is closed.
    std::optional<ManualAction> ManualPress(int channel, bool portOpen);

private:
    static std::size_t Index(int channel) { return std::size_t(channel - 1); }

    std::array<ChannelSettings, 4> FSettings{};
    std::array<bool, 4> FRelayOn{};
    std::array<QString, 4> FReadouts;
};

} // namespace q274
