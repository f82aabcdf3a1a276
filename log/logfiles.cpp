#include "logfiles.h"

#include "logencoder.h"
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

QString reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

[[noreturn]] void fail(const char *what, const QString &path, int error)
{
    throw LogFileError(QStringLiteral("%1 \"%2\". %3").arg(QLatin1String(what), path, reason(error)));
}

// A name next to the target that no other writer uses.
QByteArray temporaryName(const QByteArray &target)
{
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + QByteArray::number(qint64(::getpid())) + '_' + QByteArray::number(++counter);
}

// Where a save lands. A symbolic link is followed to the end of its chain,
// so the save writes the file the link names and the link stays a link.
struct SaveTarget {
    QByteArray path; // never a link; the file need not exist yet
    bool exists = false;
    struct stat st {};
};

// 0, or the errno that stops the save (ELOOP for a chain without end).
int resolveTarget(const QByteArray &requested, SaveTarget &out)
{
    QByteArray current = requested;
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st {};
        if (::lstat(current.constData(), &st) != 0) {
            // A missing file (maybe named by a dangling link) is created.
            if (errno != ENOENT)
                return errno;
            out = {current, false, {}};
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            out = {current, true, st};
            return 0;
        }
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(current.constData(), buf, sizeof buf);
        if (n < 0)
            return errno;
        if (size_t(n) == sizeof buf)
            return ENAMETOOLONG;
        QByteArray next(buf, n);
        // A relative link is read from the link's own folder.
        if (!next.startsWith('/')) {
            const qsizetype slash = current.lastIndexOf('/');
            if (slash >= 0)
                next.prepend(current.left(slash + 1));
        }
        current = next;
    }
    return ELOOP;
}

bool writeAll(int fd, const char *data, qsizetype size)
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

// A write into the temporary file failed with this errno.
struct WriteFailed {
    int error;
};

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
        if (!writeAll(FFd, data, size))
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

// The safe save described in the header around fill, which writes the bytes
// to the open temporary file and throws WriteFailed.
void SaveSafely(const QString &path, const std::function<void(int fd)> &fill)
{
    SaveTarget resolved;
    if (const int error = resolveTarget(QFile::encodeName(path), resolved))
        fail("Cannot create file", path, error);
    const QByteArray &target = resolved.path;
    const bool exists = resolved.exists;
    const struct stat &existing = resolved.st;
    if (exists && S_ISDIR(existing.st_mode))
        fail("Cannot create file", path, EISDIR);
    // Replacing by rename asks only the folder's permission; a file the user
    // could not write in place is not replaced either.
    if (exists && ::access(target.constData(), W_OK) != 0)
        fail("Cannot create file", path, errno);

    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryName(target);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            fail("Cannot create file", path, errno);
    }
    if (fd < 0)
        fail("Cannot create file", path, EEXIST);

    auto abandon = [&](const char *what, int error) {
        ::close(fd);
        ::unlink(temp.constData());
        fail(what, path, error);
    };
    // A replaced file keeps its permissions.
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0)
        abandon("Cannot create file", errno);
    try {
        fill(fd);
    } catch (const WriteFailed &e) {
        abandon("Cannot write file", e.error);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.constData());
        throw;
    }
    if (::fsync(fd) != 0)
        abandon("Cannot write file", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail("Cannot write file", path, error);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail("Cannot create file", path, error);
    }
    // The new directory entry reaches the disk as well.
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace

void WriteLogFile(const QString &path, const QString &viewText)
{
    SaveSafely(path, [&](int fd) {
        ChunkWriter writer(fd);
        TLogFileEncoder out = FileEncoder(writer);
        EncodeText(out, viewText);
        out.Flush();
    });
}

void WriteLogFileLines(const QString &path, const QStringList &lines)
{
    SaveSafely(path, [&](int fd) {
        ChunkWriter writer(fd);
        TLogFileEncoder out = FileEncoder(writer);
        EncodeLines(out, lines);
        out.Flush();
    });
}

void WriteLogFileBytes(const QString &path, const QByteArray &bytes)
{
    SaveSafely(path, [&](int fd) {
        ChunkWriter writer(fd);
        for (qsizetype at = 0; at < bytes.size(); at += kWriteStep)
            writer.Write(bytes.constData() + at, std::min(bytes.size() - at, kWriteStep));
    });
}

} // namespace q274
