// The log journal on its own: what it holds, which journals count as left
// behind, and the folders and files it refuses, on a real file system.
#include "journal.h"
#include "logfiles.h"
#include "recovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace q274;

namespace {
QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

mode_t Mode(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Runs fn in a child that then ends without any normal end, as a crash does.
void InAChildThatDies(const std::function<void()> &fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        fn();
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
}

// The id of a process that has ended.
qint64 EndedPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

uid_t Nobody()
{
    const passwd *pw = ::getpwnam("nobody");
    return pw ? pw->pw_uid : uid_t(-1);
}

void Touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("planted\r\n");
}
} // namespace

TEST(Journal, HoldsTheViewAndItsNewLinesInANewPrivateFileEachRestart)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("state/q274"));
    TJournal j(folder, 4242);
    j.Restart({QStringLiteral("banner"), QString(), QString()});
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(j.Path()), 0600u);
    EXPECT_TRUE(QFileInfo(j.Path()).fileName().startsWith(QStringLiteral("journal-4242-")));
    j.Append(QStringLiteral("one"));
    j.Append(QString());
    EXPECT_TRUE(j.SyncPending());
    j.Sync();
    EXPECT_EQ(Read(j.Path()), QByteArray("banner\r\n\r\n\r\none\r\n\r\n"));
    const QString first = j.Path();
    j.Restart({QStringLiteral("fresh")});
    EXPECT_NE(j.Path(), first);
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_EQ(Read(j.Path()), QByteArray("fresh\r\n"));
    j.Remove();
    EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));
}

// Left behind means nobody holds it, whatever pid its name carries: the
// same pid repeats in every container.
TEST(Journal, OnlyJournalsNobodyHoldsAreOrphans)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    TJournal live(folder, ::getpid());
    live.Restart({QStringLiteral("live")});
    InAChildThatDies([&] {
        TJournal same(folder, ::getpid());
        same.Restart({QStringLiteral("crashed")});
    });
    // Journals of earlier versions carry only a pid.
    const QString oldGone = QStringLiteral("journal-%1.log").arg(EndedPid());
    const QString oldRunning = QStringLiteral("journal-%1.log").arg(::getppid());
    Touch(dir.filePath(oldGone));
    Touch(dir.filePath(oldRunning));
    QStringList orphans = TJournal::Orphans(folder, ::getpid());
    ASSERT_EQ(orphans.size(), 2) << orphans.join(u' ').toStdString();
    EXPECT_TRUE(orphans.contains(oldGone));
    orphans.removeOne(oldGone);
    EXPECT_EQ(Read(dir.filePath(orphans[0])), QByteArray("crashed\r\n"));
    EXPECT_FALSE(orphans.contains(QFileInfo(live.Path()).fileName()));

    // Once taken for recovery it is held, so a second start leaves it.
    const int folderFd = TJournal::OpenFolder(folder);
    const int taken = TJournal::OpenOrphan(folderFd, orphans[0]);
    EXPECT_GE(taken, 0);
    EXPECT_EQ(TJournal::OpenOrphan(folderFd, orphans[0]), -1);
    ::close(taken);
    ::close(folderFd);
}

TEST(Journal, OnlyPlainFilesOfThisUserAreOrphans)
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString secret = elsewhere.filePath(QStringLiteral("secret"));
    Touch(secret);
    ASSERT_TRUE(QFile::link(secret, dir.filePath(QStringLiteral("journal-1-0a.log"))));
    ASSERT_EQ(::link(QFile::encodeName(secret).constData(), QFile::encodeName(dir.filePath("journal-2-0b.log")).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("journal-3-0c.log")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("journal-4-0d.log")));
    Touch(dir.filePath(QStringLiteral("journal-5-0e.log")));
    if (::geteuid() == 0 && Nobody() != uid_t(-1))
        ASSERT_EQ(::chown(QFile::encodeName(dir.filePath("journal-5-0e.log")).constData(), Nobody(), Nobody()), 0);
    else
        QFile::remove(dir.filePath(QStringLiteral("journal-5-0e.log")));
    EXPECT_EQ(TJournal::Orphans(dir.path(), ::getpid()), QStringList());
}

TEST(Journal, AFolderOthersControlIsRefusedAndOneOfOursIsClosedToThem)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("q274"))); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    TJournal blocked(blocker.fileName(), 1);
    EXPECT_THROW(blocked.Restart({QStringLiteral("x")}), LogFileError);
    EXPECT_THROW(blocked.Append(QStringLiteral("y")), LogFileError);

    const QString loose = dir.filePath(QStringLiteral("loose"));
    ASSERT_TRUE(QDir().mkdir(loose));
    ::chmod(QFile::encodeName(loose).constData(), 0777);
    TJournal ours(loose, 1);
    ours.Restart({QStringLiteral("x")});
    EXPECT_EQ(Mode(loose), 0700u);

    if (::geteuid() != 0 || Nobody() == uid_t(-1))
        GTEST_SKIP() << "a folder of another user needs root to make";
    const QString theirs = dir.filePath(QStringLiteral("theirs"));
    ASSERT_TRUE(QDir().mkdir(theirs));
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), Nobody(), Nobody()), 0);
    TJournal refused(theirs, 1);
    try {
        refused.Restart({QStringLiteral("x")});
        ADD_FAILURE() << "a folder of another user was taken";
    } catch (const LogFileError &e) {
        EXPECT_NE(std::string(e.what()).find("belongs to another user"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(QDir(theirs).isEmpty());
    EXPECT_THROW(TJournal::Orphans(theirs, 1), LogFileError);
}

TEST(Journal, ALongJournalStartsOverAsANewFile)
{
    QTemporaryDir dir;
    TJournal j(dir.path(), 4242);
    j.Restart({QStringLiteral("banner")});
    const QString line(1000, QLatin1Char('x'));
    for (int i = 0; i < 5000; ++i) // 5 MB: its blocks are freed off this thread
        j.Append(line);
    j.Sync();
    j.Restart({QStringLiteral("fresh")});
    j.Append(QStringLiteral("one"));
    j.Sync();
    EXPECT_EQ(Read(j.Path()), QByteArray("fresh\r\none\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// Recovery copies only this user's own journals, streams long ones, never
// writes through a name another user planted in the log folder, and leaves
// the copies private.
TEST(Journal, RecoveryTakesOnlyOwnJournalsAndWritesOnlyNewPrivateFiles)
{
    QTemporaryDir state, logs, elsewhere;
    const QString secret = elsewhere.filePath(QStringLiteral("secret"));
    Touch(secret);
    const QByteArray secretBytes = Read(secret);
    InAChildThatDies([&] {
        TJournal j(state.path(), 7);
        j.Restart({QStringLiteral("banner")});
        const QString line(1000, QLatin1Char('y')); // 5 MB, copied a piece at a time
        for (int i = 0; i < 5000; ++i)
            j.Append(line);
        j.Sync();
    });
    const QStringList orphans = TJournal::Orphans(state.path(), ::getpid());
    ASSERT_EQ(orphans.size(), 1);
    const QString journal = state.filePath(orphans[0]);
    const QByteArray journalBytes = Read(journal);
    ASSERT_EQ(journalBytes.size(), 8 + 5000 * 1002);

    ASSERT_TRUE(QFile::link(secret, state.filePath(QStringLiteral("journal-8-0a.log"))));
    const bool root = ::geteuid() == 0 && Nobody() != uid_t(-1);
    if (root) {
        Touch(state.filePath(QStringLiteral("journal-9-0b.log")));
        ASSERT_EQ(::chown(QFile::encodeName(state.filePath("journal-9-0b.log")).constData(), Nobody(), Nobody()), 0);
    }
    // The name the recovered copy would take, planted as a link to the
    // user's own file (by another user where the test can make one).
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(journal).constData(), &st), 0);
    const QDateTime ended = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    const QString expected = logs.filePath(QStringLiteral("Q274TC_recovered_") + LogFileDatePart(ended.date(), QLocale::c())
                                           + u'_' + LogFileTimePart(ended.time()) + QStringLiteral(".log"));
    ASSERT_TRUE(QFile::link(secret, expected));
    if (root) {
        ASSERT_EQ(::lchown(QFile::encodeName(expected).constData(), Nobody(), Nobody()), 0);
    }

    const RecoveryReport report = RecoverJournals(state.path(), logs.path(), QLocale::c(), ::getpid());
    EXPECT_TRUE(report.Errors.isEmpty()) << report.Errors.join(u' ').toStdString();
    ASSERT_EQ(report.Saved, QStringList{expected.chopped(4) + QStringLiteral("-2.log")});
    EXPECT_EQ(Read(report.Saved[0]), journalBytes);
    EXPECT_EQ(Mode(report.Saved[0]), 0600u);
    EXPECT_FALSE(QFile::exists(journal));
    EXPECT_EQ(Read(secret), secretBytes);
    EXPECT_TRUE(QFileInfo(state.filePath(QStringLiteral("journal-8-0a.log"))).isSymLink());
    EXPECT_EQ(QDir(logs.path()).entryList(QDir::Files | QDir::System).size(), 2);
    // Nothing is left to recover a second time.
    EXPECT_TRUE(RecoverJournals(state.path(), logs.path(), QLocale::c(), ::getpid()).Saved.isEmpty());
}
