#include "recovery.h"

#include "journal.h"
#include "logfiles.h"
#include "safesave.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace q274 {

namespace {

void CopyAll(int from, int to)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), size_t(buffer.size()));
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw WriteFailed{errno};
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer.constData() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                throw WriteFailed{errno};
            }
            done += w;
        }
    }
}

} // namespace

RecoveryReport RecoverJournals(const QString &stateFolder, const QString &logFolder, const QLocale &locale,
                               qint64 ownPid)
{
    RecoveryReport report;
    QStringList orphans;
    int folderFd = -1;
    try {
        orphans = TJournal::Orphans(stateFolder, ownPid);
        folderFd = TJournal::OpenFolder(stateFolder);
    } catch (const LogFileError &) {
        return report; // the journal's own start says why the folder is refused
    }
    for (const QString &orphan : orphans) {
        const int fd = TJournal::OpenOrphan(folderFd, orphan);
        if (fd < 0)
            continue;
        const QByteArray name = QFile::encodeName(orphan);
        struct stat st {};
        ::fstat(fd, &st);
        if (st.st_size == 0) {
            ::unlinkat(folderFd, name.constData(), 0);
            ::close(fd);
            continue;
        }
        // Named after the journal's last line: when that session ended.
        const QDateTime ended =
            QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
        const QString path = logFolder + QStringLiteral("/Q274TC_recovered_") + LogFileDatePart(ended.date(), locale)
                             + QLatin1Char('_') + LogFileTimePart(ended.time()) + QStringLiteral(".log");
        try {
            report.Saved << CreateNewFile(path, 0600, [fd](int out) { CopyAll(fd, out); });
            // Still locked: no other start saves it too.
            ::unlinkat(folderFd, name.constData(), 0);
        } catch (const std::exception &e) {
            // The journal stays for the next start.
            report.Errors << QString::fromUtf8(e.what());
        }
        ::close(fd);
    }
    ::close(folderFd);
    return report;
}

} // namespace q274
