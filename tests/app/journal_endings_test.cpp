// How sessions end and what becomes of their log: the real program killed
// again and again where every run has the same pid (a container), ended by
// the signals of a shutdown, a logout or a terminal; the window's journal
// on a disk that fills up.
#include "childprocess.h"
#include "journal.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "journalhome.h"
#include "support/support.h"

#include <QCoreApplication>
#include <QDateTime>
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
#include <pwd.h>
#include <sys/mount.h>

using namespace q274;
using q274test::PollFor;

namespace {

class Endings : public q274test::JournalHomeTest {
protected:
    QStringList Journals() const { return QDir(State()).entryList({QStringLiteral("journal-*.log")}, QDir::Files); }
    QStringList Recovered() const
    {
        return QDir(LogFolder()).entryList({QStringLiteral("Q274TC_recovered_*.log")}, QDir::Files);
    }
    // A journal that was not there before, once it holds text.
    QString NewJournal(const QStringList &before, const char *text) const
    {
        QString found;
        PollFor([&] {
            for (const QString &name : Journals())
                if (!before.contains(name) && q274test::ReadAll(State() + QLatin1Char('/') + name).contains(text))
                    found = State() + QLatin1Char('/') + name;
            return !found.isEmpty();
        });
        return found;
    }
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
        killed << q274test::ReadAll(journal);
        p.Signal(SIGKILL);
        ASSERT_TRUE(PollFor([&] { return !p.Running(); }));
        // The program itself dies with unshare, and its lock with it.
        ASSERT_TRUE(PollFor([&] { return TJournal::Orphans(State(), -1).contains(QFileInfo(journal).fileName()); }));
    }
    q274test::ChildProcess last(Q274_PROGRAM_PATH, {"--screenshot", home.filePath(QStringLiteral("w.png")).toStdString()});
    EXPECT_EQ(last.Wait(20000), std::optional<int>(0));

    const QStringList recovered = Recovered();
    ASSERT_EQ(recovered.size(), 3) << recovered.join(u' ').toStdString();
    QSet<QByteArray> contents;
    for (const QString &name : recovered)
        contents << q274test::ReadAll(LogFolder() + QLatin1Char('/') + name);
    EXPECT_EQ(contents, killed);
    EXPECT_TRUE(Journals().isEmpty());
}

// The sync after a line really puts it on the disk; the timer's second is
// shortened, not waited for.
TEST_F(Endings, TheWindowsJournalSyncPutsTheLineOnTheDisk)
{
    TfrmMain w;
    w.SetJournalSyncInterval(0);
    w.ShowLogBanner();
    w.StartJournal(State());
    w.LogMessage(q274test::kIndent + QStringLiteral("on the disk"));
    EXPECT_TRUE(w.Journal()->SyncPending());
    EXPECT_TRUE(RunUntil([&] { return !w.Journal()->SyncPending(); }));
    EXPECT_TRUE(q274test::ReadAll(w.Journal()->Path()).endsWith("on the disk\r\n"));
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
    w.SetJournalSyncInterval(0);
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
    EXPECT_EQ(q274test::ReadAll(w.Journal()->Path()), LogFileBytes(w.LogText()));
    EXPECT_TRUE(w.LogText().contains(QStringLiteral("while full 5")));
    EXPECT_EQ(QDir(small + QStringLiteral("/q274")).entryList(QDir::Files).size(), 1);
}

// A shutdown's SIGTERM, a logout's SIGHUP and Ctrl+C's SIGINT end the program
// with status 0, the log saved as the autosave saves it and no journal left;
// three ends within a second take three names.
TEST_F(Endings, TermHupAndIntEndQuietlyWithTheLogSaved)
{
    // Children inherit what the test runner ignores; these must reach them.
    ::signal(SIGHUP, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    QSet<QByteArray> journals;
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        q274test::ChildProcess p(Q274_PROGRAM_PATH, {});
        ASSERT_TRUE(p.Started());
        const QString journal = NewJournal({}, "Logging enabled");
        ASSERT_FALSE(journal.isEmpty()) << "signal " << sig;
        journals << q274test::ReadAll(journal);
        p.Signal(sig);
        EXPECT_EQ(p.Wait(10000), std::optional<int>(0)) << "signal " << sig;
        EXPECT_TRUE(Journals().isEmpty()) << "signal " << sig;
    }
    QSet<QByteArray> saved;
    for (const QString &name : QDir(LogFolder()).entryList({QStringLiteral("Q274TC_*.log")}, QDir::Files))
        saved << q274test::ReadAll(LogFolder() + QLatin1Char('/') + name);
    EXPECT_EQ(saved, journals);
    EXPECT_EQ(QDir(LogFolder()).entryList(QDir::Files).size(), 3);
}

// The user's own file, named by links another user planted in a shared log
// folder under the names the program will pick, keeps its bytes through a
// save, an autosave and the quiet end.
TEST_F(Endings, PlantedLinksInASharedLogFolderLeaveTheUsersFileAlone)
{
    const passwd *nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        GTEST_SKIP() << "links of another user need root to make";
    const QString shared = home.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkdir(shared));
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    const QString keys = home.filePath(QStringLiteral("authorized_keys"));
    {
        QFile f(keys);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("ssh-ed25519 mine\n");
    }
    auto plant = [&](const QString &name) {
        ASSERT_TRUE(QFile::link(keys, name));
        ASSERT_EQ(::lchown(QFile::encodeName(name).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    };
    const QDateTime now(QDate(2026, 1, 2), QTime(10, 0, 0));
    {
        TfrmMain w;
        w.SetLogFolder(shared);
        w.SetAutosaveClock([now] { return now; });
        w.ShowLogBanner();
        w.StartJournal(State());
        const QString autosave = AutosaveFileName(shared, now.date(), now.time(), w.LocaleInUse());
        plant(autosave);
        plant(shared + QStringLiteral("/chosen.log"));
        EXPECT_THROW(w.SaveLogAndClear(shared + QStringLiteral("/chosen.log")), LogFileError);
        w.LogModel().LastAutosaveTime = now.addDays(-2);
        w.CheckAutosave();
        EXPECT_TRUE(QFile::exists(autosave.chopped(4) + QStringLiteral("-2.log")));
        w.LogMessage(q274test::kIndent + QStringLiteral("at the end"));
        w.QuietEnd();
        EXPECT_TRUE(q274test::ReadAll(autosave.chopped(4) + QStringLiteral("-3.log")).contains("at the end"));
    }
    EXPECT_EQ(q274test::ReadAll(keys), QByteArray("ssh-ed25519 mine\n"));
    EXPECT_TRUE(Journals().isEmpty());
}
