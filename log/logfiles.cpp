#include "logfiles.h"

#include "timestamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringEncoder>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// True when the locale's encoding gives every ASCII character as its own
// byte, so plain text can be narrowed without the encoder.
bool AsciiIsItself()
{
    static const bool same = [] {
        QString ascii;
        QByteArray expected;
        for (int c = 0; c < 128; ++c) {
            ascii += QLatin1Char(char(c));
            expected += char(c);
        }
        QStringEncoder encoder(QStringConverter::System);
        return QByteArray(encoder.encode(ascii)) == expected;
    }();
    return same;
}

inline bool IsBreak(char16_t c) { return c == u'\n' || c == u'\r'; }

// Copies the leading characters that are ASCII and no line break as bytes;
// returns how many.
qsizetype CopyPlain(const char16_t *src, qsizetype n, char *dst)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen at a time, the common case for a log of data lines.
    const __m128i above7bits = _mm_set1_epi16(short(0xFF80)), lf = _mm_set1_epi16(u'\n'), cr = _mm_set1_epi16(u'\r');
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 8));
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), above7bits), _mm_setzero_si128());
        const __m128i breaks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(a, lf), _mm_cmpeq_epi16(a, cr)),
                                            _mm_or_si128(_mm_cmpeq_epi16(b, lf), _mm_cmpeq_epi16(b, cr)));
        if (_mm_movemask_epi8(ascii) != 0xFFFF || _mm_movemask_epi8(breaks) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < n && src[i] < 0x80 && !IsBreak(src[i]); ++i)
        dst[i] = char(src[i]);
    return i;
}

// Log text to log file bytes in one pass: every line break (CR LF, a lone CR
// or a lone LF) becomes CR LF, and the rest goes through the locale's
// encoder, as one encode of the whole text would. The bytes stay in memory,
// or, given a file, are written out whenever the buffer fills, so a long log
// never needs a second copy of itself.
class LogFileEncoder {
public:
    // The buffer of a file save, and the most characters taken at once.
    static constexpr qsizetype Chunk = qsizetype(1) << 20;
    // How much is written before the disk is asked to start on it.
    static constexpr qsizetype KickStep = qsizetype(8) << 20;

    LogFileEncoder(qsizetype capacity, int fd) : FBuffer(capacity, Qt::Uninitialized), FFd(fd)
    {
        FPos = FBuffer.data();
    }

    void Text(QStringView text)
    {
        const char16_t *p = text.utf16();
        const char16_t *const end = p + text.size();
        while (p < end) {
            // Plain text as far as the buffer has room, unless that is
            // little, so a huge text never asks for a huge buffer.
            if (FDirect && !FEncoderOwed) {
                qsizetype step = std::min<qsizetype>(end - p, Chunk);
                if (Free() < std::min<qsizetype>(step, 4096))
                    Room(step);
                step = std::min(step, Free());
                const qsizetype n = CopyPlain(p, step, FPos);
                FPos += n;
                p += n;
                if (p == end)
                    break;
            }
            if (IsBreak(*p)) {
                p += (*p == u'\r' && p + 1 < end && p[1] == u'\n') ? 2 : 1;
                LineEnd();
                continue;
            }
            // The rest up to the next break goes through the encoder, which
            // holds half a surrogate pair between calls as a whole-text
            // encode would; a quarter chunk at most, which fits the buffer.
            const char16_t *q = p;
            const char16_t *const stop = p + std::min<qsizetype>(end - p, Chunk / 4);
            while (q < stop && !IsBreak(*q))
                ++q;
            Room(FEncoder.requiredSpace(q - p));
            FPos = FEncoder.appendToBuffer(FPos, QStringView(p, q));
            FEncoderOwed = true;
            p = q;
        }
    }

    void LineEnd()
    {
        if (FDirect && !FEncoderOwed) {
            Room(2);
            *FPos++ = '\r';
            *FPos++ = '\n';
            return;
        }
        // Through the encoder, which settles anything it still holds first.
        Room(FEncoder.requiredSpace(2));
        FPos = FEncoder.appendToBuffer(FPos, u"\r\n");
        FEncoderOwed = false;
    }

    QByteArray Take()
    {
        FBuffer.truncate(FPos - FBuffer.constData());
        return std::move(FBuffer);
    }

    void Flush()
    {
        const qsizetype n = FPos - FBuffer.constData();
        if (!writeAll(FFd, FBuffer.constData(), n))
            throw WriteFailed{errno};
        FPos = FBuffer.data();
        // The disk starts on what is written while the rest is encoded; the
        // fsync at the end still waits for all of it and reports any error.
        FWritten += n;
        if (FWritten - FStarted >= KickStep) {
            ::sync_file_range(FFd, FStarted, FWritten - FStarted, SYNC_FILE_RANGE_WRITE);
            FStarted = FWritten;
        }
    }

private:
    qsizetype Free() const { return FBuffer.constData() + FBuffer.size() - FPos; }

    // At least n bytes free at FPos.
    void Room(qsizetype n)
    {
        if (Free() >= n)
            return;
        if (FFd >= 0)
            Flush();
        const qsizetype used = FPos - FBuffer.constData();
        if (FBuffer.size() - used < n)
            FBuffer.resize(std::max(FBuffer.size() * 2, used + n));
        FPos = FBuffer.data() + used;
    }

    QByteArray FBuffer;
    char *FPos;
    int FFd;                              // -1: the bytes stay in FBuffer
    qsizetype FWritten = 0, FStarted = 0; // bytes in the file, and those sent on to the disk
    QStringEncoder FEncoder{QStringConverter::System};
    const bool FDirect = AsciiIsItself();
    bool FEncoderOwed = false; // the encoder may hold half a character
};

void EncodeText(LogFileEncoder &out, const QString &viewText)
{
    out.Text(viewText);
    // A break at the very end does not add an empty line.
    if (!viewText.isEmpty() && !IsBreak(viewText.back().unicode()))
        out.LineEnd();
}

// Every line and the CR LF after it, as TLogModel::Text() joins them.
void EncodeLines(LogFileEncoder &out, const QStringList &lines)
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
    LogFileEncoder out(viewText.size() + viewText.size() / 32 + 16, -1);
    EncodeText(out, viewText);
    return out.Take();
}

QByteArray LogFileBytesFromLines(const QStringList &lines)
{
    LogFileEncoder out(LinesSize(lines) + 16, -1);
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
        LogFileEncoder out(LogFileEncoder::Chunk, fd);
        EncodeText(out, viewText);
        out.Flush();
    });
}

void WriteLogFileLines(const QString &path, const QStringList &lines)
{
    SaveSafely(path, [&](int fd) {
        LogFileEncoder out(LogFileEncoder::Chunk, fd);
        EncodeLines(out, lines);
        out.Flush();
    });
}

void WriteLogFileBytes(const QString &path, const QByteArray &bytes)
{
    SaveSafely(path, [&](int fd) {
        // In chunks, the disk starting on every few megabytes while the rest
        // is written: one write of a long log leaves it all to the fsync.
        qsizetype written = 0, started = 0;
        while (written < bytes.size()) {
            const qsizetype n = std::min(bytes.size() - written, LogFileEncoder::Chunk);
            if (!writeAll(fd, bytes.constData() + written, n))
                throw WriteFailed{errno};
            written += n;
            if (written - started >= LogFileEncoder::KickStep) {
                ::sync_file_range(fd, started, written - started, SYNC_FILE_RANGE_WRITE);
                started = written;
            }
        }
    });
}

} // namespace q274
