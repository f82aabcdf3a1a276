// How sessions end and what becomes of their log: the real program killed
// again and again where every run has the same pid (a container), ended by
// the signals of a shutdown, a logout or a terminal; the window's journal
// on a disk that fills up.
#include "childprocess.h"
#include "journal.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>

using namespace q274;

namespace {

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WaitFor(const std::function<bool()> &pred, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class Endings : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_STATE_HOME");
        QDir(home.path()).mkpath(QStringLiteral("Documents/Q274"));
    }
    void TearDown() override { qputenv("HOME", FOldHome); }
    QString State() const { return home.filePath(QStringLiteral(".local/state/q274")); }
    QString LogFolder() const { return home.filePath(QStringLiteral("Documents/Q274")); }
    QStringList Journals() const { return QDir(State()).entryList({QStringLiteral("journal-*.log")}, QDir::Files); }
    QStringList Recovered() const
    {
        return QDir(LogFolder()).entryList({QStringLiteral("Q274TC_recovered_*.log")}, QDir::Files);
    }
    // A journal that was not there before, once it holds text.
    QString NewJournal(const QStringList &before, const char *text) const
    {
        QString found;
        WaitFor([&] {
            for (const QString &name : Journals())
                if (!before.contains(name) && Read(State() + QLatin1Char('/') + name).contains(text))
                    found = State() + QLatin1Char('/') + name;
            return !found.isEmpty();
        });
        return found;
    }
    QTemporaryDir home;
    QByteArray FOldHome;
};

// Runs the event loop (the window's timers) until done() holds.
bool RunUntil(const std::function<bool()> &done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool PidNamespacesWork()
{
    q274test::ChildProcess probe("/usr/bin/unshare", {"--pid", "--fork", "--mount-proc", "/bin/true"});
    return probe.Started() && probe.Wait(5000) == std::optional<int>(0);
}

} // namespace

// In a pid namespace the program is pid 1 at every start; each killed run's
// log still comes back once, and byte for byte.
TEST_F(Endings, KilledThreeTimesWithTheSamePidThreeLogsComeBackOnceEach)
{
    if (!PidNamespacesWork())
        GTEST_SKIP() << "unshare --pid --fork --mount-proc is not permitted here";
    QSet<QByteArray> killed;
    for (int run = 0; run < 3; ++run) {
        const QStringList before = Journals();
        q274test::ChildProcess p("/usr/bin/unshare",
                                 {"--pid", "--fork", "--mount-proc", "--kill-child=SIGKILL", Q274_PROGRAM_PATH});
        ASSERT_TRUE(p.Started());
        const QString journal = NewJournal(before, run == 0 ? "Logging enabled" : "ended unexpectedly saved as");
        ASSERT_FALSE(journal.isEmpty()) << "run " << run;
        EXPECT_TRUE(journal.contains(QStringLiteral("/journal-1-")));
        killed << Read(journal);
        p.Signal(SIGKILL);
        ASSERT_TRUE(WaitFor([&] { return !p.Running(); }));
        // The program itself dies with unshare, and its lock with it.
        ASSERT_TRUE(WaitFor([&] { return TJournal::Orphans(State(), -1).contains(QFileInfo(journal).fileName()); }));
    }
    q274test::ChildProcess last(Q274_PROGRAM_PATH, {"--screenshot", home.filePath(QStringLiteral("w.png")).toStdString()});
    EXPECT_EQ(last.Wait(20000), std::optional<int>(0));

    const QStringList recovered = Recovered();
    ASSERT_EQ(recovered.size(), 3) << recovered.join(u' ').toStdString();
    QSet<QByteArray> contents;
    for (const QString &name : recovered)
        contents << Read(LogFolder() + QLatin1Char('/') + name);
    EXPECT_EQ(contents, killed);
    EXPECT_TRUE(Journals().isEmpty());
}

// The sync after a line really puts it on the disk; the timer's second is
// shortened, not waited for.
TEST_F(Endings, TheWindowsJournalSyncPutsTheLineOnTheDisk)
{
    TfrmMain w;
    w.JournalSyncMs = 0;
    w.ShowLogBanner();
    w.StartJournal(State());
    w.LogMessage(q274test::kIndent + QStringLiteral("on the disk"));
    EXPECT_TRUE(w.Journal()->SyncPending());
    EXPECT_TRUE(RunUntil([&] { return !w.Journal()->SyncPending(); }));
    EXPECT_TRUE(Read(w.Journal()->Path()).endsWith("on the disk\r\n"));
}

// A full disk stops the journal with one error line; once there is space the
// next sync brings it back holding every line of the view, the missed ones too.
TEST_F(Endings, AJournalStoppedByAFullDiskComesBackWithTheLinesItMissed)
{
    const QString small = home.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "mounting a small tmpfs is not permitted here: " << std::strerror(errno);
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(small).constData(), MNT_DETACH); });
    TfrmMain w;
    w.JournalSyncMs = 0;
    w.ShowLogBanner();
    w.StartJournal(small + QStringLiteral("/q274"));
    QFile filler(small + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    filler.close();
    // Past the page the journal's last lines already have.
    for (int i = 0; i < 6; ++i)
        w.LogMessage(q274test::kIndent + QStringLiteral("while full %1 ").arg(i) + QString(1000, u'x'));
    RunUntil([] { return false; }, 50); // a few failed retries
    EXPECT_EQ(w.LogText().count(QStringLiteral("Application ERROR:")), 1);
    EXPECT_TRUE(w.LogText().contains(QStringLiteral("No space left on device")));

    ASSERT_TRUE(QFile::remove(filler.fileName()));
    w.LogMessage(q274test::kIndent + QStringLiteral("space again"));
    ASSERT_TRUE(RunUntil([&] { return w.LogText().contains(QStringLiteral("The log journal works again.")); }));
    RunUntil([&] { return !w.Journal()->SyncPending(); });
    EXPECT_EQ(Read(w.Journal()->Path()), LogFileBytes(w.LogText()));
    EXPECT_TRUE(w.LogText().contains(QStringLiteral("while full 5")));
    EXPECT_EQ(QDir(small + QStringLiteral("/q274")).entryList(QDir::Files).size(), 1);
}
