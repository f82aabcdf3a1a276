#include "journal.h"

#include "logfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace q274 {

namespace {

[[noreturn]] void Fail(const QString &path, int error)
{
    throw LogFileError(QStringLiteral("Cannot write the log journal \"%1\". %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

bool Running(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

} // namespace

QString TJournal::DefaultFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/q274");
}

TJournal::TJournal(const QString &folder, qint64 pid)
    : FFolder(folder), FPath(folder + QStringLiteral("/journal-%1.log").arg(pid))
{
}

TJournal::~TJournal()
{
    Close();
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
    // A long journal loses its name now and its blocks later; the new one
    // is a new file.
    struct stat st {};
    constexpr off_t kLong = 4 << 20;
    if (FFd >= 0 && ::fstat(FFd, &st) == 0 && st.st_size > kLong && ::unlink(QFile::encodeName(FPath).constData()) == 0)
        CloseLater();
    Close();
    if (!QDir().mkpath(FFolder))
        Fail(FPath, errno ? errno : EACCES);
    FFd = ::open(QFile::encodeName(FPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (FFd < 0)
        Fail(FPath, errno);
    // A final line break ends the last line without adding an empty one.
    if (!lines.isEmpty())
        Write(LogFileBytes(lines.join(QLatin1Char('\n')) + QLatin1Char('\n')));
    Sync();
}

void TJournal::Append(const QString &line)
{
    if (FFd < 0)
        Fail(FPath, EBADF);
    Write(LogFileBytes(line + QLatin1Char('\n')));
}

void TJournal::Write(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(FFd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(FPath, errno);
        }
        p += n;
        left -= n;
    }
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
    Close();
    ::unlink(QFile::encodeName(FPath).constData());
}

QStringList TJournal::Orphans(const QString &folder, qint64 ownPid)
{
    static const QRegularExpression name(QStringLiteral("^journal-(\\d+)\\.log$"));
    QStringList out;
    const QDir dir(folder);
    for (const QString &f : dir.entryList({QStringLiteral("journal-*.log")}, QDir::Files, QDir::Name)) {
        const QRegularExpressionMatch m = name.match(f);
        if (!m.hasMatch())
            continue;
        const qint64 pid = m.captured(1).toLongLong();
        if (pid != ownPid && !Running(pid))
            out << dir.filePath(f);
    }
    return out;
}

} // namespace q274
