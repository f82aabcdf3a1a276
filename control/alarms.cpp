#include "alarms.h"

namespace q274 {

QString AlarmKindName(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::Low: return QStringLiteral("low");
    case AlarmKind::High: return QStringLiteral("high");
    case AlarmKind::NoReading: return QStringLiteral("no_reading");
    case AlarmKind::SilentLink: return QStringLiteral("silent_link");
    }
    return {};
}

QString AlarmBadge(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::Low: return QStringLiteral("LOW");
    case AlarmKind::High: return QStringLiteral("HIGH");
    case AlarmKind::NoReading: return QStringLiteral("NO READING");
    case AlarmKind::SilentLink: return QStringLiteral("NO LINK");
    }
    return {};
}

void TAlarmMonitor::SetSettings(const AlarmSettings &settings, const std::array<bool, 4> &watched)
{
    FSettings = settings;
    FWatched = watched;
}

void TAlarmMonitor::SetLinkWanted(bool wanted, qint64 now)
{
    if (wanted && !FLinkWanted)
        FLastLine = now;
    FLinkWanted = wanted;
}

void TAlarmMonitor::LineReceived(qint64 now) { FLastLine = now; }

void TAlarmMonitor::Reading(int channel, const QString &readout, std::optional<double> value, qint64 now)
{
    if (channel < 1 || channel > 4)
        return;
    Channel &c = FChannels[size_t(channel - 1)];
    const QString text = readout.trimmed();
    if (!c.Known || text != c.Readout)
        c.Since = now;
    c.Readout = text;
    c.Value = value;
    c.Known = true;
}

void TAlarmMonitor::ReadingsCleared()
{
    for (Channel &c : FChannels)
        c = Channel{};
}

TAlarmMonitor::State &TAlarmMonitor::StateOf(int channel, AlarmKind kind)
{
    return kind == AlarmKind::SilentLink ? FLink : FStates[size_t(channel - 1)][size_t(kind)];
}

const TAlarmMonitor::State &TAlarmMonitor::StateOf(int channel, AlarmKind kind) const
{
    return kind == AlarmKind::SilentLink ? FLink : FStates[size_t(channel - 1)][size_t(kind)];
}

QString TAlarmMonitor::Describe(int channel, AlarmKind kind, bool started, const QString &reading) const
{
    const QString head = started ? QStringLiteral("ALARM") : QStringLiteral("Alarm cleared");
    if (kind == AlarmKind::SilentLink)
        return started ? QStringLiteral("%1: no reading from the board for more than %2 s")
                             .arg(head)
                             .arg(FSettings.SilentLinkS)
                       : QStringLiteral("%1: the board answers again").arg(head);
    const ChannelAlarmLimits &l = FSettings.Limits[size_t(channel - 1)];
    QString what;
    if (kind == AlarmKind::Low)
        what = QStringLiteral("below the low limit %1").arg(l.Low.value_or(0));
    else if (kind == AlarmKind::High)
        what = QStringLiteral("above the high limit %1").arg(l.High.value_or(0));
    else
        what = QStringLiteral("no reading for more than %1 s").arg(FSettings.NoReadingS);
    return QStringLiteral("%1 Ch%2: %3  (%4)").arg(head).arg(channel).arg(what, reading);
}

void TAlarmMonitor::Step(State &s, bool active, int channel, AlarmKind kind, const QString &reading,
                         std::vector<AlarmEvent> &out)
{
    if (active == s.Active)
        return;
    s.Active = active;
    if (active) {
        if (s.Latched)
            return; // still shown: nothing repeats
        s.Latched = true;
        s.ClearLogged = false;
        out.push_back({channel, kind, true, reading, Describe(channel, kind, true, reading)});
    } else if (!s.ClearLogged) {
        s.ClearLogged = true;
        out.push_back({channel, kind, false, reading, Describe(channel, kind, false, reading)});
    }
}

std::vector<AlarmEvent> TAlarmMonitor::Evaluate(qint64 now)
{
    std::vector<AlarmEvent> out;
    for (int ch = 1; ch <= 4; ++ch) {
        const Channel &c = FChannels[size_t(ch - 1)];
        const ChannelAlarmLimits &l = FSettings.Limits[size_t(ch - 1)];
        // Without a value (sensor missing, link lost) nobody knows whether
        // the limit still holds: a limit alarm neither starts nor clears
        // then; the "no reading" alarms speak for the missing value.
        const bool value = c.Known && c.Value;
        State &low = StateOf(ch, AlarmKind::Low);
        State &high = StateOf(ch, AlarmKind::High);
        Step(low, l.Low && (value ? *c.Value < *l.Low : low.Active), ch, AlarmKind::Low, c.Readout, out);
        Step(high, l.High && (value ? *c.Value > *l.High : high.Active), ch, AlarmKind::High, c.Readout, out);
        // A missing reading and one that has not changed at all (a stuck
        // sensor sends the same text for hours) count alike.
        const bool stale = FSettings.NoReadingS > 0 && FWatched[size_t(ch - 1)] && c.Known
                           && now - c.Since > qint64(FSettings.NoReadingS) * 1000;
        Step(StateOf(ch, AlarmKind::NoReading), stale, ch, AlarmKind::NoReading, c.Readout, out);
    }
    const bool silent = FSettings.SilentLinkS > 0 && FLinkWanted && now - FLastLine > qint64(FSettings.SilentLinkS) * 1000;
    Step(FLink, silent, 0, AlarmKind::SilentLink, QString(), out);
    return out;
}

void TAlarmMonitor::Acknowledge()
{
    for (auto &ch : FStates)
        for (State &s : ch)
            s.Latched = false;
    FLink.Latched = false;
}

std::optional<AlarmKind> TAlarmMonitor::Shown(int channel) const
{
    if (channel >= 1 && channel <= 4)
        for (AlarmKind k : {AlarmKind::High, AlarmKind::Low, AlarmKind::NoReading}) {
            const State &s = StateOf(channel, k);
            if (s.Active || s.Latched)
                return k;
        }
    if (FLink.Active || FLink.Latched)
        return AlarmKind::SilentLink;
    return std::nullopt;
}

bool TAlarmMonitor::AnyShown() const
{
    for (int ch = 1; ch <= 4; ++ch)
        if (Shown(ch))
            return true;
    return false;
}

} // namespace q274
