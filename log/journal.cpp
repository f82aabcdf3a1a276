#include "journal.h"

#include "logfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace q274 {

namespace {

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

[[noreturn]] void Fail(const QString &path, int error)
{
    throw LogFileError(QStringLiteral("Cannot write the log journal \"%1\". %2").arg(path, Reason(error)));
}

bool Running(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

void WriteTo(int fd, const QByteArray &bytes, const QString &path)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(path, errno);
        }
        p += n;
        left -= n;
    }
}

} // namespace

QString TJournal::DefaultFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/q274");
}

int TJournal::OpenFolder(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder);
    // The folders above are the user's ordinary ones; only ours is private.
    QDir().mkpath(QFileInfo(folder).absolutePath());
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        Fail(folder, errno);
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        Fail(folder, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        Fail(folder, errno);
    // Whoever owns or may write the folder can plant files and links in it,
    // as ssh reasons about ~/.ssh.
    if (st.st_uid != ::geteuid()) {
        ::close(fd);
        throw LogFileError(
            QStringLiteral("The log journal is off: its folder \"%1\" belongs to another user.").arg(folder));
    }
    if ((st.st_mode & 022) != 0 && ::fchmod(fd, st.st_mode & 0700) != 0) {
        ::close(fd);
        throw LogFileError(
            QStringLiteral("The log journal is off: other users may write its folder \"%1\".").arg(folder));
    }
    return fd;
}

TJournal::TJournal(const QString &folder, qint64 pid) : FFolder(folder), FPid(pid) {}

TJournal::~TJournal()
{
    Close();
    if (FFolderFd >= 0)
        ::close(FFolderFd);
    if (FCloser.joinable())
        FCloser.join();
}

void TJournal::Close()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void TJournal::CloseLater()
{
    if (FCloser.joinable())
        FCloser.join();
    FCloser = std::thread([fd = FFd] { ::close(fd); });
    FFd = -1;
}

void TJournal::Restart(const QStringList &lines)
{
    if (FFolderFd < 0)
        FFolderFd = OpenFolder(FFolder);
    // A final line break ends the last line without adding an empty one.
    const QByteArray bytes = lines.isEmpty() ? QByteArray() : LogFileBytes(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    // Tried again every second after a full disk: a day's log is not written
    // out only to fail at the end while the space is not there.
    struct statvfs fs {};
    if (::fstatvfs(FFolderFd, &fs) == 0 && quint64(fs.f_bavail) * fs.f_frsize < quint64(bytes.size()))
        Fail(FFolder, ENOSPC);

    // A new file under a new name each time: nothing already there is ever
    // written, truncated or followed.
    QByteArray name;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        const quint64 random = QRandomGenerator::system()->generate64();
        name = "journal-" + QByteArray::number(FPid) + '-' + QByteArray::number(random, 16).rightJustified(16, '0')
               + ".log";
        fd = ::openat(FFolderFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                      0600);
        if (fd < 0) {
            if (errno != EEXIST)
                Fail(FFolder + QLatin1Char('/') + QFile::decodeName(name), errno);
            continue;
        }
        // The lock tells the programs that start later that this one lives.
        // A program starting in the same instant may have taken the empty
        // file for an orphan and removed it: then try another name.
        struct stat st {};
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd);
            fd = -1;
        }
    }
    const QString path = FFolder + QLatin1Char('/') + QFile::decodeName(name);
    if (fd < 0)
        Fail(path, EEXIST);
    try {
        WriteTo(fd, bytes, path);
        if (::fdatasync(fd) != 0)
            Fail(path, errno);
    } catch (...) {
        ::unlinkat(FFolderFd, name.constData(), 0);
        ::close(fd);
        throw;
    }

    // The old journal loses its name before its lock, so nobody recovers it.
    // A long one frees its blocks later.
    if (FFd >= 0) {
        ::unlinkat(FFolderFd, FName.constData(), 0);
        struct stat st {};
        constexpr off_t kLong = 4 << 20;
        if (::fstat(FFd, &st) == 0 && st.st_size > kLong)
            CloseLater();
        Close();
    }
    FFd = fd;
    FName = name;
    FPath = path;
    FUnsynced = false;
}

void TJournal::Append(const QString &line)
{
    if (FFd < 0)
        Fail(FPath.isEmpty() ? FFolder : FPath, EBADF);
    Write(LogFileBytes(line + QLatin1Char('\n')));
}

void TJournal::Write(const QByteArray &bytes)
{
    WriteTo(FFd, bytes, FPath);
    FUnsynced = FUnsynced || !bytes.isEmpty();
}

void TJournal::Sync()
{
    if (FFd >= 0 && FUnsynced && ::fdatasync(FFd) != 0)
        Fail(FPath, errno);
    FUnsynced = false;
}

void TJournal::Remove()
{
    if (FFd >= 0)
        ::unlinkat(FFolderFd, FName.constData(), 0);
    Close();
}

int TJournal::OpenOrphan(int folderFd, const QString &name)
{
    // Not blocking: a planted pipe must not hold the start.
    const int fd = ::openat(folderFd, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    // A second name (a hard link) could make a private file look like ours.
    const bool plain = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
    // Held: a live program writes it, or another start is recovering it.
    // Unlinked by now: another start recovered it already.
    if (!plain || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QStringList TJournal::Orphans(const QString &folder, qint64 ownPid)
{
    // journal-<pid>-<random>.log; journal-<pid>.log from earlier versions,
    // which hold no lock, and so count as held while that pid runs.
    static const QRegularExpression pattern(QStringLiteral("^journal-(\\d+)(-[0-9a-f]+)?\\.log$"));
    const int folderFd = OpenFolder(folder);
    QStringList out;
    const int listFd = ::dup(folderFd);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir && listFd >= 0)
        ::close(listFd);
    while (dirent *entry = dir ? ::readdir(dir) : nullptr) {
        const QString name = QFile::decodeName(entry->d_name);
        const QRegularExpressionMatch m = pattern.match(name);
        if (!m.hasMatch())
            continue;
        const qint64 pid = m.captured(1).toLongLong();
        if (!m.hasCaptured(2) && pid != ownPid && Running(pid))
            continue;
        const int fd = OpenOrphan(folderFd, name);
        if (fd >= 0) {
            ::close(fd);
            out << name;
        }
    }
    if (dir)
        ::closedir(dir);
    ::close(folderFd);
    out.sort();
    return out;
}

} // namespace q274
