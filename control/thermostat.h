// The two-point switching rule of each channel as pure functions: the caller
// queues the command, then logs the message after MessageIndent.
#pragma once

#include "channelsettings.h"

#include <QChar>
#include <QString>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace q274 {

struct ChannelDecision {
    enum DecisionKind {
        Switch,    // queue Command, then log Message
        DataError, // the read-out is not a number: log the data error
    };
    DecisionKind Kind = Switch;
    int Channel = 0;     // 1..4
    std::string Command; // "N1".."N4" or "F1".."F4"
    QString Message;     // e.g. "Ch1: heat ON  (30.00)", without MessageIndent
};

// One evaluation of channel (1..4) against its read-out text as shown (a
// blank and the number, with decimalSep). Heat: on at T <= SetPoint with
// the relay reported off, off at T >= SetPoint + Dropout with it reported on;
// Cool mirrored. Nothing between the thresholds. The caller checks Enabled
// and skips " -" read-outs (RunChannelControl does both).
std::optional<ChannelDecision> ControlChannel(int channel, const ChannelSettings &settings, const QString &readout,
                                              QChar decimalSep, bool relayOn);

// Evaluates channels 1 to 4 in order, skipping disabled channels and
// read-outs "-"; returns the decisions in order. An unreadable read-out
// gives a DataError decision for that channel and the others still run.
std::vector<ChannelDecision> RunChannelControl(const std::array<ChannelSettings, 4> &settings,
                                               const std::array<QString, 4> &readouts, QChar decimalSep,
                                               const std::array<bool, 4> &relayOn);

} // namespace q274
