// The history behind the chart: every reading of every channel with its time
// while connected, the relay states from the status replies, and the
// disconnects as gaps. Values are kept in Celsius; the unit is applied when
// drawing. Appending is O(1) on the user-interface thread and never moves
// what is stored, so a week of history (about 100 000 readings per channel
// per day) costs about 12 bytes a reading, some 34 MB. Floods are thinned
// and history older than a month is let go, so nothing grows without bound.
#pragma once

#include <QByteArray>
#include <QTimeZone>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace q274 {

// One channel's readings: times (ms since the epoch, never decreasing) and
// values in fixed-size chunks, so growing never copies the history.
class SampleColumn {
public:
    static constexpr std::size_t kChunk = 8192;

    void Append(qint64 time, float value);
    // Overwrites the newest sample (there must be one); time never decreases.
    void ReplaceLast(qint64 time, float value);
    // Drops the oldest chunk (kChunk samples) while a newer one exists;
    // returns whether it did. Indices then count from the next sample.
    bool DropOldestChunk();
    std::size_t Size() const { return FSize; }
    qint64 Time(std::size_t i) const { return FChunks[i / kChunk]->Time[i % kChunk]; }
    float Value(std::size_t i) const { return FChunks[i / kChunk]->Value[i % kChunk]; }
    // The first index whose time is >= time (Size() when none).
    std::size_t LowerBound(qint64 time) const;
    std::size_t MemoryBytes() const;

private:
    struct Chunk {
        std::array<qint64, kChunk> Time;
        std::array<float, kChunk> Value;
    };
    std::vector<std::unique_ptr<Chunk>> FChunks;
    std::size_t FSize = 0;
};

class TSampleRecorder {
public:
    // Readings of one channel (and relay changes) closer together than this
    // share one sample, the latest: a babbling line cannot grow the history
    // faster than two samples a second, while the board's own pace (one
    // reading per channel every few seconds) is kept whole.
    static constexpr qint64 kMinSpacingMs = 500;
    // History older than this is let go, a chunk at a time, so a program
    // left running for months stays within a month's memory.
    static constexpr qint64 kKeepMs = 31LL * 86'400'000;
    // How much is kept; a history read from files keeps all it was given.
    qint64 KeepMs = kKeepMs;

    // clock: ms since the epoch; empty: the system clock.
    explicit TSampleRecorder(std::function<qint64()> clock = {});
    void SetClock(std::function<qint64()> clock) { FClock = std::move(clock); }

    // Connected: readings are recorded from now on. Stop: disconnected; the
    // next Start begins a new stretch, drawn apart from the previous one.
    void Start();
    void Stop();
    bool Recording() const { return FRecording; }

    // A reading of channel 1..4 in Celsius; NaN for a reply without one.
    // Ignored while not recording. The readings of one reply share the time
    // given (Now() when none), so they make one row of the export.
    void AddReading(int channel, double celsius, std::optional<qint64> time = std::nullopt);
    // The relay states of a status reply; ignored while not recording.
    void AddRelays(const std::array<bool, 4> &on);

    std::size_t SampleCount(int channel) const { return FColumns.at(Index(channel)).Size(); }
    // Oldest and newest time of anything recorded (readings, stops).
    std::optional<qint64> FirstTime() const;
    std::optional<qint64> LastTime() const;
    qint64 Now() const;
    // Changes with everything recorded, so a view knows when to redraw.
    quint64 Revision() const { return FRevision; }
    std::size_t MemoryBytes() const;
    // Called after every change (the chart schedules a redraw).
    std::function<void()> OnChanged;

    struct Point {
        qint64 Time;
        double Value;
    };
    using Run = std::vector<Point>; // a stretch of line without a break
    // The newest reading of channel (NaN: a reply without one), if any.
    std::optional<Point> LastReading(int channel) const;

    // The readings of channel between from and to (plus one on either side,
    // so the line runs to the edges), reduced to the lowest and highest of
    // each of columns equal time slices, in time order, in Celsius or
    // Fahrenheit. A line breaks at a disconnect and at a reply without a
    // reading.
    std::vector<Run> Decimate(int channel, qint64 from, qint64 to, int columns, bool fahrenheit) const;

    struct Band {
        qint64 From;
        qint64 To;
    };
    // The periods channel's relay was reported on, overlapping from..to,
    // clipped to it; periods less than joinBelow apart are joined (one pixel
    // column on the chart). A period still running ends at Now().
    std::vector<Band> RelayBands(int channel, qint64 from, qint64 to, qint64 joinBelow) const;

    // All samples as CSV: "time,ch1,ch2,ch3,ch4,relays", one row for the
    // readings of one moment, ISO 8601 times in zone with milliseconds and
    // offset, values in Celsius with ".", empty for no reading, the relay
    // states in effect as four 0/1 digits apart by blanks (empty when not known), a row with
    // only the time at each disconnect. Lines end in CR LF.
    QByteArray CsvBytes(const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    // The rows of CsvBytes (without the header) whose time lies within
    // from..to, each with its time, in time order.
    void CsvRows(const QTimeZone &zone, qint64 from, qint64 to,
                 const std::function<void(qint64 time, const QByteArray &row)> &row) const;
    static constexpr const char *kCsvHeader = "time,ch1,ch2,ch3,ch4,relays\r\n";

private:
    static std::size_t Index(int channel);
    qint64 Stamp(std::optional<qint64> time = std::nullopt); // never before anything already recorded
    void Changed();
    void Prune(std::size_t channel, qint64 now);

    struct RelayEvent {
        qint64 Time;
        int Bits; // bit N-1 for relay N; -1: not known (disconnected)
    };
    std::function<qint64()> FClock;
    bool FRecording = false;
    qint64 FLast = std::numeric_limits<qint64>::min();
    quint64 FRevision = 0;
    std::array<SampleColumn, 4> FColumns;
    // Per channel, the index of the first reading after each Start.
    std::array<std::vector<std::size_t>, 4> FRunStarts;
    std::array<bool, 4> FRunPending{};
    // When each channel's newest sample was first written: later readings
    // within kMinSpacingMs replace it.
    std::array<qint64, 4> FSlotStart{};
    qint64 FRelaySlotStart = 0;
    std::vector<qint64> FStops;
    std::vector<RelayEvent> FRelays;
};

} // namespace q274
