#include "thermostat.h"

#include "textrules.h"

namespace q274 {

namespace {

ChannelDecision MakeSwitch(int channel, bool on, const QString &what, const QString &readout)
{
    ChannelDecision d;
    d.Kind = ChannelDecision::Switch;
    d.Channel = channel;
    // Prefixed in place: GCC 12 warns falsely on "N" + to_string() and on
    // appending to a literal's string.
    d.Command = std::to_string(channel).insert(0, 1, on ? 'N' : 'F');
    d.Message =
        QStringLiteral("Ch%1: %2 %3  (").arg(channel).arg(what, on ? QStringLiteral("ON") : QStringLiteral("OFF"))
        + TrimLine(readout) + QLatin1Char(')');
    return d;
}

} // namespace

std::optional<ChannelDecision> ControlChannel(int channel, const ChannelSettings &settings, const QString &readout,
                                              QChar decimalSep, bool relayOn)
{
    const std::optional<double> reading = ParseLocaleFloat(readout, decimalSep);
    if (!reading) {
        ChannelDecision d;
        d.Kind = ChannelDecision::DataError;
        d.Channel = channel;
        return d;
    }
    const double t = *reading;
    // The band edges are whole numbers, formed before comparing.
    const int setPoint = settings.SetPoint;
    if (settings.Mode == kModeHeat) {
        if (t <= setPoint && !relayOn)
            return MakeSwitch(channel, true, QStringLiteral("heat"), readout);
        if (t >= setPoint + settings.Dropout && relayOn)
            return MakeSwitch(channel, false, QStringLiteral("heat"), readout);
    } else if (settings.Mode == kModeCool) {
        if (t >= setPoint && !relayOn)
            return MakeSwitch(channel, true, QStringLiteral("cool"), readout);
        if (t <= setPoint - settings.Dropout && relayOn)
            return MakeSwitch(channel, false, QStringLiteral("cool"), readout);
    }
    return std::nullopt;
}

std::vector<ChannelDecision> RunChannelControl(const std::array<ChannelSettings, 4> &settings,
                                               const std::array<QString, 4> &readouts, QChar decimalSep,
                                               const std::array<bool, 4> &relayOn)
{
    std::vector<ChannelDecision> decisions;
    for (int i = 0; i < 4; ++i) {
        if (!settings[i].Enabled || TrimLine(readouts[i]) == QLatin1String("-"))
            continue;
        if (auto d = ControlChannel(i + 1, settings[i], readouts[i], decimalSep, relayOn[i]))
            decisions.push_back(std::move(*d));
    }
    return decisions;
}

} // namespace q274
