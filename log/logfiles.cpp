#include "logfiles.h"

#include "timestamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringEncoder>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

QString LogFileTimePart(const QTime &time)
{
    return time.toString(QStringLiteral("HH-mm-ss"));
}

QString ManualLogName(const QDate &date, const QTime &time, const QLocale &locale)
{
    return QStringLiteral("Q274TC_") + LogFileDatePart(date, locale) + u'_' + LogFileTimePart(time);
}

QString AutosaveFileName(const QString &folder, const QDate &date, const QTime &time,
                         const QLocale &locale)
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

QByteArray LogFileBytes(const QString &viewText)
{
    QString text = viewText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QString lines;
    lines.reserve(text.size() + text.size() / 16 + 2);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        lines += QStringView(text).mid(start, end - start);
        lines += QStringLiteral("\r\n");
        start = end + 1;
    }
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(lines);
}

namespace {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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

} // namespace

void WriteLogFile(const QString &path, const QString &viewText)
{
    const QByteArray bytes = LogFileBytes(viewText);
    const QByteArray target = QFile::encodeName(path);

    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        fail("Cannot create file", path, EISDIR);

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
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        abandon("Cannot write file", errno);
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
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace q274
