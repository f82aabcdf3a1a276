// Reading log files back: data lines become readings, relay events become
// relay changes (with the reading they name), connects and disconnects mark
// where the line breaks. The file is read as a stream, a megabyte at a time,
// so memory follows what the sink keeps, not the file's size.
#pragma once

#include "historyformat.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace q274 {

// Where a reader's findings go. Times are ms since the epoch, local stamps
// read in the system's time zone; values are Celsius, NaN for "no reading".
class HistorySink {
public:
    virtual ~HistorySink() = default;
    virtual void Reading(qint64 time, int channel, double celsius) = 0;
    virtual void Relay(qint64 time, int channel, bool on) = 0;
    virtual void Connected(qint64 time) = 0;
    virtual void Disconnected(qint64 time) = 0;
};

struct HistoryCounts {
    qint64 Lines = 0;      // lines read
    qint64 Skipped = 0;    // lines that did not parse
    qint64 DataLines = 0;  // lines with the four readings
    qint64 Events = 0;     // relay switches
    qint64 FirstTime = 0;  // of the first and last stamped line (when any)
    qint64 LastTime = 0;
    bool AnyStamp = false; // a stamped line was found
};

// Reads one line after another (without the line end) in one stamp format.
// The state (unit, relays on) runs on from line to line and from file to
// file, so files read in time order continue each other.
class HistoryLineReader {
public:
    HistoryLineReader(HistorySink &sink, const StampFormat &format);
    void SetFormat(const StampFormat &format) { FFormat = &format; }
    void Line(QStringView line);
    const HistoryCounts &Counts() const { return FCounts; }

private:
    std::optional<qint64> Time(QStringView stamp);
    bool DataLine(qint64 time, QStringView fields);
    void Message(qint64 time, QStringView text);
    double Celsius(double shown) const;

    HistorySink &FSink;
    const StampFormat *FFormat;
    HistoryCounts FCounts;
    bool FFahrenheit = false;
    // The local start of the half hour last read, and its time since the
    // epoch: the zone is asked once per half hour, not once per line.
    qint64 FHalfHourKey = -1;
    qint64 FHalfHourStart = 0;
};

// Text taken from a file to tell its locale: stamps from its start and end,
// and the decimal separator its data lines use.
struct LogSample {
    QStringList Stamps;
    QString DecimalSeparator; // "," or "."; empty when no data line shows one
    qint64 Size = 0;
};
// Throws LogFileError when the file cannot be opened.
LogSample SampleLogFile(const QString &path);

struct ReadOutcome {
    bool Cancelled = false;
    QString Error; // not empty: the file could not be read (what and why)
};

// Streams path through reader. progress(bytesDone) is called after every
// block; cancel is read as often. A line longer than 64 KiB (a binary file)
// is counted as skipped without being kept.
ReadOutcome ReadLogFile(const QString &path, HistoryLineReader &reader, const std::atomic<bool> *cancel = nullptr,
                        const std::function<void(qint64)> &progress = {});

} // namespace q274
