#include "logfiles.h"

#include "logencoder.h"
#include "safesave.h"
#include "timestamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace q274 {

QString LogFileDatePart(const QDate &date, const QLocale &locale)
{
    QString text = locale.toString(date, ShortDatePattern(locale));
    const QString separator = DateSeparator(locale);
    if (!separator.isEmpty())
        text.replace(separator, QStringLiteral("-"));
    return text;
}

QString LogFileTimePart(const QTime &time) { return time.toString(QStringLiteral("HH-mm-ss")); }

QString ManualLogName(const QDate &date, const QTime &time, const QLocale &locale)
{
    return QStringLiteral("Q274TC_") + LogFileDatePart(date, locale) + u'_' + LogFileTimePart(time);
}

QString AutosaveFileName(const QString &folder, const QDate &date, const QTime &time, const QLocale &locale)
{
    return folder + u'/' + ManualLogName(date, time, locale) + QStringLiteral(".log");
}

double AutosaveIntervalDays(const QString &name)
{
    if (name == QStringLiteral("1h"))
        return 0.04167;
    if (name == QStringLiteral("3h"))
        return 0.125;
    if (name == QStringLiteral("6h"))
        return 0.25;
    if (name == QStringLiteral("12h"))
        return 0.5;
    return 1.0; // "24h" and anything else
}

bool AutosaveDue(const QDateTime &now, const QDateTime &last, double intervalDays)
{
    const double days = double(last.msecsTo(now)) / 86400000.0;
    return !(days < intervalDays);
}

bool GetSpecialFolderPath(int folder, QString &path)
{
    if (folder != CSIDL_PERSONAL)
        return false;
    // A documents folder that does not exist (minimal installs have none)
    // counts as undetermined.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QFileInfo(documents).isDir())
        return false;
    path = documents;
    return true;
}

QString LogFolderPath()
{
    // Without a documents folder the home folder takes its place.
    QString base = QDir::homePath();
    GetSpecialFolderPath(CSIDL_PERSONAL, base);
    return base + QStringLiteral("/Q274");
}

bool EnsureLogFolder(const QString &path)
{
    QDir dir;
    if (dir.exists(path))
        return true;
    dir.mkdir(path);
    return dir.exists(path);
}

namespace {

bool WriteAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// How much is written before the disk is asked to start on it, and the size
// of each write.
constexpr qsizetype kKickStep = qsizetype(8) << 20;
constexpr qsizetype kWriteStep = TLogFileEncoder::kChunk;

// Writes to fd in the order given, the disk starting on every few megabytes
// while the rest is made: one write of a long log leaves it all to the
// fsync, which still waits for all of it and reports any error.
class ChunkWriter {
public:
    explicit ChunkWriter(int fd) : FFd(fd) {}
    void Write(const char *data, qsizetype size)
    {
        if (!WriteAll(FFd, data, size))
            throw WriteFailed{errno};
        FWritten += size;
        if (FWritten - FStarted >= kKickStep) {
            ::sync_file_range(FFd, FStarted, FWritten - FStarted, SYNC_FILE_RANGE_WRITE);
            FStarted = FWritten;
        }
    }

private:
    int FFd;
    qsizetype FWritten = 0, FStarted = 0; // bytes in the file, and those sent on to the disk
};

TLogFileEncoder FileEncoder(ChunkWriter &writer)
{
    return TLogFileEncoder(TLogFileEncoder::kChunk,
                           [&writer](const char *data, qsizetype size) { writer.Write(data, size); });
}

inline bool IsBreak(QChar c) { return c == u'\n' || c == u'\r'; }

void EncodeText(TLogFileEncoder &out, const QString &viewText)
{
    out.Text(viewText);
    // A break at the very end does not add an empty line.
    if (!viewText.isEmpty() && !IsBreak(viewText.back()))
        out.LineEnd();
}

// Every line and the CR LF after it, as TLogModel::Text() joins them.
void EncodeLines(TLogFileEncoder &out, const QStringList &lines)
{
    for (const QString &line : lines) {
        out.Text(line);
        out.LineEnd();
    }
}

qsizetype LinesSize(const QStringList &lines)
{
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 2;
    return size;
}

} // namespace

QByteArray LogFileBytes(const QString &viewText)
{
    // Room for a lone LF becoming CR LF on lines of 32 characters or more.
    TLogFileEncoder out(viewText.size() + viewText.size() / 32 + 16);
    EncodeText(out, viewText);
    return out.Take();
}

QByteArray LogFileBytesFromLines(const QStringList &lines)
{
    TLogFileEncoder out(LinesSize(lines) + 16);
    EncodeLines(out, lines);
    return out.Take();
}

namespace {

FileFill TextFill(const QString &viewText)
{
    return [&viewText](int fd) {
        ChunkWriter writer(fd);
        TLogFileEncoder out = FileEncoder(writer);
        EncodeText(out, viewText);
        out.Flush();
    };
}

FileFill BytesFill(const QByteArray &bytes)
{
    return [&bytes](int fd) {
        ChunkWriter writer(fd);
        for (qsizetype at = 0; at < bytes.size(); at += kWriteStep)
            writer.Write(bytes.constData() + at, std::min(bytes.size() - at, kWriteStep));
    };
}

} // namespace

void WriteLogFile(const QString &path, const QString &viewText) { ReplaceFile(path, TextFill(viewText)); }

void WriteLogFileLines(const QString &path, const QStringList &lines)
{
    ReplaceFile(path, [&](int fd) {
        ChunkWriter writer(fd);
        TLogFileEncoder out = FileEncoder(writer);
        EncodeLines(out, lines);
        out.Flush();
    });
}

void WriteLogFileBytes(const QString &path, const QByteArray &bytes) { ReplaceFile(path, BytesFill(bytes)); }

// The program's own names are created new, not replaced.
QString WriteNewLogFile(const QString &path, const QString &viewText)
{
    return CreateNewFile(path, 0666, TextFill(viewText));
}

QString WriteNewLogFileBytes(const QString &path, const QByteArray &bytes)
{
    return CreateNewFile(path, 0666, BytesFill(bytes));
}

} // namespace q274
