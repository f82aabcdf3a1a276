// The log journal on its own: what it holds, journals of ended programs, and
// a folder it cannot write.
#include "journal.h"
#include "logfiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace q274;

namespace {
QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
} // namespace

TEST(Journal, HoldsTheViewAndItsNewLinesUntilRemoved)
{
    QTemporaryDir dir;
    TJournal j(dir.filePath(QStringLiteral("state/q274")), 4242);
    j.Restart({QStringLiteral("banner"), QString(), QString()});
    j.Append(QStringLiteral("one"));
    j.Append(QString());
    EXPECT_TRUE(j.SyncPending());
    j.Sync();
    EXPECT_EQ(Read(j.Path()), QByteArray("banner\r\n\r\n\r\none\r\n\r\n"));
    j.Restart({QStringLiteral("fresh")});
    EXPECT_EQ(Read(j.Path()), QByteArray("fresh\r\n"));
    j.Remove();
    EXPECT_FALSE(QFile::exists(j.Path()));
}

TEST(Journal, OnlyJournalsOfEndedProgramsAreOrphans)
{
    QTemporaryDir dir;
    const qint64 ended = EndedPid();
    TJournal mine(dir.path(), ::getpid()), theirs(dir.path(), ::getppid()), gone(dir.path(), ended);
    for (TJournal *j : {&mine, &theirs, &gone})
        j->Restart({QStringLiteral("x")});
    EXPECT_EQ(TJournal::Orphans(dir.path(), ::getpid()), QStringList{gone.Path()});
}

TEST(Journal, AFolderItCannotWriteIsAnError)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("q274"))); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    TJournal j(blocker.fileName(), 1);
    EXPECT_THROW(j.Restart({QStringLiteral("x")}), LogFileError);
    EXPECT_THROW(j.Append(QStringLiteral("y")), LogFileError);
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
}
