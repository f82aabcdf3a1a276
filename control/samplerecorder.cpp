#include "samplerecorder.h"

#include "textrules.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace q274 {

// ---------------------------------------------------------------- column

void SampleColumn::Append(qint64 time, float value)
{
    if (FSize == FChunks.size() * kChunk)
        FChunks.push_back(std::make_unique<Chunk>());
    Chunk &c = *FChunks.back();
    c.Time[FSize % kChunk] = time;
    c.Value[FSize % kChunk] = value;
    ++FSize;
}

void SampleColumn::ReplaceLast(qint64 time, float value)
{
    Chunk &c = *FChunks[(FSize - 1) / kChunk];
    c.Time[(FSize - 1) % kChunk] = time;
    c.Value[(FSize - 1) % kChunk] = value;
}

bool SampleColumn::DropOldestChunk()
{
    if (FChunks.size() < 2)
        return false;
    FChunks.erase(FChunks.begin());
    FSize -= kChunk;
    return true;
}

std::size_t SampleColumn::LowerBound(qint64 time) const
{
    std::size_t lo = 0, hi = FSize;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (Time(mid) < time)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::size_t SampleColumn::MemoryBytes() const
{
    return FChunks.size() * sizeof(Chunk) + FChunks.capacity() * sizeof(FChunks[0]);
}

// ---------------------------------------------------------------- recorder

TSampleRecorder::TSampleRecorder(std::function<qint64()> clock) : FClock(std::move(clock)) {}

std::size_t TSampleRecorder::Index(int channel)
{
    if (channel < 1 || channel > 4)
        throw std::out_of_range("channel number must be 1 to 4");
    return std::size_t(channel - 1);
}

qint64 TSampleRecorder::Now() const { return FClock ? FClock() : QDateTime::currentMSecsSinceEpoch(); }

qint64 TSampleRecorder::Stamp(std::optional<qint64> time)
{
    // A clock set back must not unsort the history the lookups search.
    FLast = std::max(time ? *time : Now(), FLast);
    return FLast;
}

void TSampleRecorder::Changed()
{
    ++FRevision;
    if (OnChanged)
        OnChanged();
}

void TSampleRecorder::Start()
{
    if (FRecording)
        return;
    Stamp();
    // Readings after a reconnect sort after the disconnect's row.
    if (!FStops.empty() && FLast <= FStops.back())
        FLast = FStops.back() + 1;
    FRecording = true;
    FRunPending.fill(true);
}

void TSampleRecorder::Stop()
{
    if (!FRecording)
        return;
    FRecording = false;
    const qint64 t = Stamp();
    FStops.push_back(t);
    FRelays.push_back({t, -1});
    Changed();
}

void TSampleRecorder::AddReading(int channel, double celsius, std::optional<qint64> time)
{
    const std::size_t i = Index(channel);
    if (!FRecording)
        return;
    SampleColumn &column = FColumns[i];
    const qint64 t = Stamp(time);
    if (FRunPending[i]) {
        FRunStarts[i].push_back(column.Size());
        FRunPending[i] = false;
    } else if (column.Size() > 0 && t - FSlotStart[i] < kMinSpacingMs) {
        column.ReplaceLast(t, float(celsius));
        Changed();
        return;
    }
    column.Append(t, float(celsius));
    FSlotStart[i] = t;
    if (column.Size() % SampleColumn::kChunk == 1)
        Prune(i, t);
    Changed();
}

void TSampleRecorder::Prune(std::size_t channel, qint64 now)
{
    const qint64 cutoff = now - KeepMs;
    SampleColumn &column = FColumns[channel];
    std::vector<std::size_t> &starts = FRunStarts[channel];
    while (column.Size() > SampleColumn::kChunk && column.Time(SampleColumn::kChunk - 1) < cutoff
           && column.DropOldestChunk()) {
        const auto kept = std::lower_bound(starts.begin(), starts.end(), SampleColumn::kChunk);
        starts.erase(starts.begin(), kept);
        for (std::size_t &s : starts)
            s -= SampleColumn::kChunk;
    }
    FStops.erase(FStops.begin(), std::lower_bound(FStops.begin(), FStops.end(), cutoff));
    // The last change before the cutoff stays: it tells the state after it.
    auto firstKept = std::lower_bound(FRelays.begin(), FRelays.end(), cutoff,
                                      [](const RelayEvent &e, qint64 t) { return e.Time < t; });
    if (firstKept != FRelays.begin()) {
        FRelays.erase(FRelays.begin(), firstKept - 1);
        FRelays.front().Time = std::max(FRelays.front().Time, cutoff);
    }
}

void TSampleRecorder::AddRelays(const std::array<bool, 4> &on)
{
    if (!FRecording)
        return;
    int bits = 0;
    for (int b = 0; b < 4; ++b)
        bits |= on[std::size_t(b)] ? 1 << b : 0;
    // Only changes are kept: the board repeats its state every few seconds.
    if (!FRelays.empty() && FRelays.back().Bits == bits)
        return;
    const qint64 t = Stamp();
    if (!FRelays.empty() && FRelays.back().Bits >= 0 && t - FRelaySlotStart < kMinSpacingMs) {
        // A flurry of changes keeps its last state, at the flurry's start.
        FRelays.back().Bits = bits;
        if (FRelays.size() >= 2 && FRelays[FRelays.size() - 2].Bits == bits) {
            // Back where it was: the flurry left nothing, and the state
            // before it is not reopened.
            FRelays.pop_back();
            FRelaySlotStart = t - kMinSpacingMs;
        }
        Changed();
        return;
    }
    FRelays.push_back({t, bits});
    FRelaySlotStart = t;
    Changed();
}

std::optional<qint64> TSampleRecorder::FirstTime() const
{
    std::optional<qint64> first;
    auto consider = [&first](qint64 t) { first = first ? std::min(*first, t) : t; };
    for (const SampleColumn &c : FColumns)
        if (c.Size() > 0)
            consider(c.Time(0));
    if (!FStops.empty())
        consider(FStops.front());
    if (!FRelays.empty())
        consider(FRelays.front().Time);
    return first;
}

std::optional<qint64> TSampleRecorder::LastTime() const
{
    if (FLast == std::numeric_limits<qint64>::min() || !FirstTime())
        return std::nullopt;
    return FLast;
}

std::optional<TSampleRecorder::Point> TSampleRecorder::LastReading(int channel) const
{
    const SampleColumn &column = FColumns.at(Index(channel));
    if (column.Size() == 0)
        return std::nullopt;
    return Point{column.Time(column.Size() - 1), column.Value(column.Size() - 1)};
}

std::size_t TSampleRecorder::MemoryBytes() const
{
    std::size_t bytes = sizeof(*this) + FStops.capacity() * sizeof(qint64) + FRelays.capacity() * sizeof(RelayEvent);
    for (std::size_t i = 0; i < 4; ++i)
        bytes += FColumns[i].MemoryBytes() + FRunStarts[i].capacity() * sizeof(std::size_t);
    return bytes;
}

// ---------------------------------------------------------------- drawing

std::vector<TSampleRecorder::Run> TSampleRecorder::Decimate(int channel, qint64 from, qint64 to, int columns,
                                                            bool fahrenheit) const
{
    const SampleColumn &column = FColumns.at(Index(channel));
    const std::vector<std::size_t> &runStarts = FRunStarts[Index(channel)];
    std::vector<Run> runs;
    if (to <= from || columns <= 0 || column.Size() == 0)
        return runs;
    const std::size_t lo = column.LowerBound(from);
    const std::size_t hi = to == std::numeric_limits<qint64>::max() ? column.Size() : column.LowerBound(to + 1);
    const std::size_t begin = lo > 0 ? lo - 1 : 0;
    const std::size_t end = std::min(hi + 1, column.Size());
    auto nextStart = std::lower_bound(runStarts.begin(), runStarts.end(), begin);
    const double span = double(to - from);

    Run run;
    qint64 bucket = std::numeric_limits<qint64>::min();
    std::size_t minAt = 0, maxAt = 0;
    bool haveBucket = false;
    auto value = [&](std::size_t i) {
        const double c = column.Value(i);
        return fahrenheit ? CelsiusToFahrenheit(c) : c;
    };
    auto flush = [&] {
        if (!haveBucket)
            return;
        const std::size_t a = std::min(minAt, maxAt), b = std::max(minAt, maxAt);
        run.push_back({column.Time(a), value(a)});
        if (b != a)
            run.push_back({column.Time(b), value(b)});
        haveBucket = false;
    };
    auto endRun = [&] {
        flush();
        if (!run.empty())
            runs.push_back(std::move(run));
        run = Run();
    };
    for (std::size_t i = begin; i < end; ++i) {
        if (nextStart != runStarts.end() && *nextStart == i) {
            endRun();
            ++nextStart;
        }
        const float v = column.Value(i);
        if (std::isnan(v)) {
            endRun();
            continue;
        }
        // Slices outside the range (the extra point at either edge) get
        // their own bucket, so they never stretch an edge slice.
        const qint64 t = column.Time(i);
        const qint64 slice = t < from ? -1
                             : t > to ? columns
                                      : std::min<qint64>(qint64(double(t - from) * columns / span), columns - 1);
        if (!haveBucket || slice != bucket) {
            flush();
            bucket = slice;
            minAt = maxAt = i;
            haveBucket = true;
            continue;
        }
        if (v < column.Value(minAt))
            minAt = i;
        if (v > column.Value(maxAt))
            maxAt = i;
    }
    endRun();
    return runs;
}

std::vector<TSampleRecorder::Band> TSampleRecorder::RelayBands(int channel, qint64 from, qint64 to,
                                                               qint64 joinBelow) const
{
    const int bit = 1 << Index(channel);
    std::vector<Band> bands;
    auto add = [&](qint64 a, qint64 b) {
        a = std::max(a, from);
        b = std::min(b, to);
        if (b < a)
            return;
        if (!bands.empty() && a - bands.back().To < joinBelow)
            bands.back().To = std::max(bands.back().To, b);
        else
            bands.push_back({a, b});
    };
    // Start at the last change at or before from: it tells the state then.
    auto it = std::upper_bound(FRelays.begin(), FRelays.end(), from,
                               [](qint64 t, const RelayEvent &e) { return t < e.Time; });
    if (it != FRelays.begin())
        --it;
    bool wasOn = false;
    qint64 onSince = 0;
    for (; it != FRelays.end() && it->Time <= to; ++it) {
        const bool on = it->Bits >= 0 && (it->Bits & bit);
        if (on && !wasOn)
            onSince = it->Time;
        else if (!on && wasOn)
            add(onSince, it->Time);
        wasOn = on;
    }
    if (wasOn) {
        const bool endsLater = it != FRelays.end();
        add(onSince, endsLater ? to : std::max(onSince, Now()));
    }
    return bands;
}

// ---------------------------------------------------------------- export

namespace {

void AppendNumber(QByteArray &out, int value, int digits)
{
    char buf[12];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
    for (int pad = digits - int(p - buf); pad > 0; --pad)
        out.append('0');
    out.append(buf, p - buf);
}

// Local times by a cached offset: asking the zone for every row of a week
// would take seconds. Offsets change only on quarter hours (UTC).
class LocalTimeText {
public:
    explicit LocalTimeText(const QTimeZone &zone) : FZone(zone) {}

    void Append(QByteArray &out, qint64 ms)
    {
        constexpr qint64 kQuarter = 15 * 60 * 1000;
        const qint64 window = ms >= 0 ? ms / kQuarter : (ms - kQuarter + 1) / kQuarter;
        if (window != FWindow) {
            FWindow = window;
            FOffset = FZone.isValid() ? FZone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())) : 0;
        }
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms + qint64(FOffset) * 1000, QTimeZone::utc());
        const QDate d = local.date();
        const QTime t = local.time();
        AppendNumber(out, d.year(), 4);
        out.append('-');
        AppendNumber(out, d.month(), 2);
        out.append('-');
        AppendNumber(out, d.day(), 2);
        out.append('T');
        AppendNumber(out, t.hour(), 2);
        out.append(':');
        AppendNumber(out, t.minute(), 2);
        out.append(':');
        AppendNumber(out, t.second(), 2);
        out.append('.');
        AppendNumber(out, t.msec(), 3);
        const int minutes = std::abs(FOffset) / 60;
        out.append(FOffset < 0 ? '-' : '+');
        AppendNumber(out, minutes / 60, 2);
        out.append(':');
        AppendNumber(out, minutes % 60, 2);
    }

private:
    QTimeZone FZone;
    qint64 FWindow = std::numeric_limits<qint64>::min();
    int FOffset = 0;
};

void AppendValue(QByteArray &out, float value)
{
    if (std::isnan(value))
        return;
    // The shortest text that reads back as the stored value: "23.46", never
    // the float's "23.459999", and "." in every locale.
    char buf[32];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, p - buf);
}

} // namespace

QByteArray TSampleRecorder::CsvBytes(const QTimeZone &zone) const
{
    QByteArray out;
    std::size_t rows = FStops.size();
    for (const SampleColumn &c : FColumns)
        rows = std::max(rows, c.Size());
    out.reserve(qsizetype(rows) * 48 + 64);
    out.append(kCsvHeader);
    CsvRows(zone, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
            [&out](qint64, const QByteArray &row) { out.append(row); });
    return out;
}

void TSampleRecorder::CsvRows(const QTimeZone &zone, qint64 from, qint64 to,
                              const std::function<void(qint64 time, const QByteArray &row)> &emitRow) const
{
    LocalTimeText timeText(zone);
    std::array<std::size_t, 4> next{};
    for (std::size_t c = 0; c < 4; ++c)
        next[c] = FColumns[c].LowerBound(from);
    std::size_t stop = std::size_t(std::lower_bound(FStops.begin(), FStops.end(), from) - FStops.begin());
    std::size_t relay = 0;
    int relayBits = -1;
    QByteArray out;
    for (;;) {
        qint64 t = std::numeric_limits<qint64>::max();
        for (std::size_t c = 0; c < 4; ++c)
            if (next[c] < FColumns[c].Size())
                t = std::min(t, FColumns[c].Time(next[c]));
        const bool readingRow = t != std::numeric_limits<qint64>::max();
        // At the same moment the readings come before the disconnect.
        const bool gapRow = stop < FStops.size() && (!readingRow || FStops[stop] < t);
        if (!readingRow && !gapRow)
            break;
        if (gapRow)
            t = FStops[stop++];
        if (t > to)
            break;
        // A disconnect's "not known" applies after the readings of its moment.
        while (relay < FRelays.size()
               && (FRelays[relay].Time < t || (FRelays[relay].Time == t && (gapRow || FRelays[relay].Bits >= 0))))
            relayBits = FRelays[relay++].Bits;

        out.clear();
        timeText.Append(out, t);
        for (std::size_t c = 0; c < 4; ++c) {
            out.append(',');
            if (!gapRow && next[c] < FColumns[c].Size() && FColumns[c].Time(next[c]) == t)
                AppendValue(out, FColumns[c].Value(next[c]++));
        }
        out.append(',');
        // Blanks between the states keep the field text: as "0001" a
        // spreadsheet would read the number 1 and lose which relay it was.
        if (!gapRow && relayBits >= 0)
            for (int b = 0; b < 4; ++b) {
                if (b > 0)
                    out.append(' ');
                out.append(relayBits & (1 << b) ? '1' : '0');
            }
        out.append("\r\n");
        emitRow(t, out);
    }
}

} // namespace q274
