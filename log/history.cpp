#include "history.h"

#include "logfiles.h"
#include "rstrings.h"

#include <QDateTime>
#include <QFile>

#include <charconv>
#include <cmath>
#include <string>

namespace q274 {

namespace {

constexpr qsizetype kBlock = 1 << 20;
constexpr qsizetype kLongestLine = 64 * 1024;
constexpr int kHalfHour = 30 * 60 * 1000;

// A number as the read-outs show it: "23.45", "23,45", "-5.5", in any
// script's digits.
std::optional<double> ParseShown(QStringView text)
{
    std::string ascii;
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (const int d = c.digitValue(); d >= 0)
            ascii += char('0' + d);
        else if (c == u'.' || c == u',' || c == QChar(0x066B))
            ascii += '.';
        else if (c == u'-' || c == QChar(0x2212))
            ascii += '-';
        else if (c == u'+' && ascii.empty())
            continue;
        else if (c.category() != QChar::Other_Format)
            return std::nullopt;
    }
    double value = 0;
    const char *end = ascii.data() + ascii.size();
    auto [p, ec] = std::from_chars(ascii.data(), end, value);
    if (ec != std::errc() || p != end || ascii.empty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QStringView Trimmed(QStringView s) { return s.trimmed(); }

} // namespace

HistoryLineReader::HistoryLineReader(HistorySink &sink, const StampFormat &format) : FSink(sink), FFormat(&format) {}

double HistoryLineReader::Celsius(double shown) const { return FFahrenheit ? (shown - 32.0) / 1.8 : shown; }

std::optional<qint64> HistoryLineReader::Time(QStringView stamp)
{
    const std::optional<LocalStamp> local = FFormat->Parse(stamp);
    if (!local)
        return std::nullopt;
    const int half = local->MsOfDay / kHalfHour;
    const qint64 key = local->Date.toJulianDay() * 48 + half;
    if (key != FHalfHourKey) {
        FHalfHourKey = key;
        FHalfHourStart =
            QDateTime(local->Date, QTime::fromMSecsSinceStartOfDay(half * kHalfHour)).toMSecsSinceEpoch();
    }
    return FHalfHourStart + (local->MsOfDay - half * kHalfHour);
}

void HistoryLineReader::Line(QStringView line)
{
    ++FCounts.Lines;
    const qsizetype tab = line.indexOf(u'\t');
    if (tab < 0) {
        // The blank line after a disconnect and the empty ones after the banner.
        if (!Trimmed(line).isEmpty())
            ++FCounts.Skipped;
        return;
    }
    const QStringView stamp = line.first(tab);
    if (Trimmed(stamp).isEmpty())
        return; // a banner line
    const std::optional<qint64> time = Time(stamp);
    if (!time) {
        ++FCounts.Skipped;
        return;
    }
    if (!FCounts.AnyStamp)
        FCounts.FirstTime = *time;
    FCounts.AnyStamp = true;
    FCounts.LastTime = *time;
    const QStringView rest = line.sliced(tab);
    if (rest.startsWith(MessageIndent))
        Message(*time, rest.sliced(MessageIndent.size()));
    else if (!DataLine(*time, rest.sliced(1)))
        ++FCounts.Skipped;
}

bool HistoryLineReader::DataLine(qint64 time, QStringView fields)
{
    std::array<double, 4> values{};
    qsizetype at = 0;
    for (int ch = 0; ch < 4; ++ch) {
        const qsizetype next = fields.indexOf(u'\t', at);
        if ((next < 0) != (ch == 3))
            return false;
        const QStringView field = Trimmed(fields.mid(at, next < 0 ? -1 : next - at));
        if (field == u"-") {
            values[std::size_t(ch)] = qQNaN();
        } else if (const std::optional<double> v = ParseShown(field)) {
            values[std::size_t(ch)] = Celsius(*v);
        } else {
            return false;
        }
        at = next + 1;
    }
    ++FCounts.DataLines;
    for (int ch = 1; ch <= 4; ++ch)
        FSink.Reading(time, ch, values[std::size_t(ch - 1)]);
    return true;
}

void HistoryLineReader::Message(qint64 time, QStringView text)
{
    // "Ch1: heat ON  (30.00)": the relay and the reading that switched it.
    if (text.size() > 4 && text.startsWith(u"Ch") && text[3] == u':') {
        const int ch = text[2].digitValue();
        const qsizetype open = text.indexOf(u'(');
        const bool on = text.indexOf(u" ON ") > 0 && (open < 0 || text.indexOf(u" ON ") < open);
        const bool off = text.indexOf(u" OFF ") > 0 && (open < 0 || text.indexOf(u" OFF ") < open);
        if (ch >= 1 && ch <= 4 && on != off && text.endsWith(u')') && open > 0) {
            ++FCounts.Events;
            if (const std::optional<double> v = ParseShown(text.sliced(open + 1).chopped(1)))
                FSink.Reading(time, ch, Celsius(*v));
            FSink.Relay(time, ch, on);
        }
        return;
    }
    if (text.startsWith(rs::sManualR) && text.size() > rs::sManualR.size()) {
        const int ch = text[rs::sManualR.size()].digitValue();
        const QStringView state = text.sliced(rs::sManualR.size() + 1);
        if (ch >= 1 && ch <= 4 && (state == rs::sOn || state == rs::sOff)) {
            ++FCounts.Events;
            FSink.Relay(time, ch, state == rs::sOn);
        }
        return;
    }
    if (text == rs::sComPortOpened) {
        FSink.Connected(time);
    } else if (text == rs::sDisconnected) {
        FSink.Disconnected(time);
    } else if (text.startsWith(rs::sLoggingEnabledInDeg) || text.startsWith(rs::sLoggingInDeg)) {
        const QStringView unit = Trimmed(text.sliced(text.startsWith(rs::sLoggingInDeg) ? rs::sLoggingInDeg.size()
                                                                                       : rs::sLoggingEnabledInDeg.size()));
        if (unit == u"F" || unit == u"C")
            FFahrenheit = unit == u"F";
    }
}

// ---------------------------------------------------------------- files

namespace {

void SampleLines(const QByteArray &bytes, bool skipFirst, int most, LogSample &out)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (skipFirst && !lines.isEmpty())
        lines.removeFirst(); // cut in the middle
    int taken = 0;
    for (const QByteArray &raw : lines) {
        if (taken >= most)
            break;
        const QString line = QString::fromUtf8(raw).remove(u'\r');
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0 || line.first(tab).trimmed().isEmpty())
            continue;
        out.Stamps << line.first(tab);
        ++taken;
        const QStringView rest = QStringView(line).sliced(tab);
        if (out.DecimalSeparator.isEmpty() && !rest.startsWith(MessageIndent)) {
            for (const QChar c : rest)
                if (c == u'.' || c == u',' || c == QChar(0x066B)) {
                    out.DecimalSeparator = QString(c);
                    break;
                }
        }
    }
}

} // namespace

LogSample SampleLogFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw LogFileError(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
    LogSample sample;
    sample.Size = file.size();
    constexpr qint64 kHead = 256 * 1024, kTail = 64 * 1024;
    SampleLines(file.read(kHead), false, 200, sample);
    if (sample.Size > kHead + kTail && file.seek(sample.Size - kTail))
        SampleLines(file.read(kTail), true, 50, sample);
    return sample;
}

ReadOutcome ReadLogFile(const QString &path, HistoryLineReader &reader, const std::atomic<bool> *cancel,
                        const std::function<void(qint64)> &progress)
{
    ReadOutcome outcome;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.Error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return outcome;
    }
    QByteArray pending; // the start of a line the last block cut
    bool overlong = false;
    qint64 done = 0;
    QString text;
    auto line = [&](const char *p, qsizetype n) {
        if (n > 0 && p[n - 1] == '\r')
            --n;
        text = QString::fromUtf8(p, n);
        reader.Line(text);
    };
    for (;;) {
        if (cancel && cancel->load()) {
            outcome.Cancelled = true;
            return outcome;
        }
        const QByteArray block = file.read(kBlock);
        if (block.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                outcome.Error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
            break;
        }
        done += block.size();
        qsizetype from = 0;
        for (;;) {
            const qsizetype nl = block.indexOf('\n', from);
            if (nl < 0)
                break;
            if (overlong) {
                overlong = false;
                reader.Line(u"\x01"); // counted as a line that does not parse
            } else if (pending.isEmpty()) {
                line(block.constData() + from, nl - from);
            } else {
                pending.append(block.constData() + from, nl - from);
                line(pending.constData(), pending.size());
                pending.clear();
            }
            from = nl + 1;
        }
        if (!overlong) {
            pending.append(block.constData() + from, block.size() - from);
            if (pending.size() > kLongestLine) {
                overlong = true;
                pending.clear();
                pending.squeeze();
            }
        }
        if (progress)
            progress(done);
    }
    if (overlong)
        reader.Line(u"\x01");
    else if (!pending.isEmpty())
        line(pending.constData(), pending.size());
    return outcome;
}

} // namespace q274
