// The log's journal through the window and through the real program: lines
// reach it as they are logged, a journal that cannot be written costs one
// error line, a killed program's log comes back at the next start, and a
// normal end leaves nothing behind.
#include "childprocess.h"
#include "mainwindow.h"
#include "support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>

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

// A private home for the test and the programs it starts.
class JournalHome : public ::testing::Test {
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
    // The journal of the program with this pid, once it made one.
    QString JournalOf(qint64 pid) const
    {
        const QStringList names =
            QDir(State()).entryList({QStringLiteral("journal-%1-*.log").arg(pid)}, QDir::Files);
        return names.isEmpty() ? QString() : State() + QLatin1Char('/') + names[0];
    }
    QTemporaryDir home;
    QByteArray FOldHome;
};

} // namespace

TEST_F(JournalHome, WindowKeepsItsJournalAndSurvivesOneItCannotWrite)
{
    {
        TfrmMain w;
        w.ShowLogBanner();
        w.StartJournal(State());
        w.LogMessage(q274test::kIndent + QStringLiteral("kept on disk"));
        const QString journal = w.Journal()->Path();
        EXPECT_TRUE(Read(journal).contains("Logging enabled in Deg C\r\n"));
        EXPECT_TRUE(Read(journal).endsWith("kept on disk\r\n"));
        // The window's normal end removes it.
    }
    EXPECT_TRUE(QDir(State()).entryList(QDir::Files).isEmpty());

    QFile blocker(home.filePath(QStringLiteral("blocked"))); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    TfrmMain w;
    w.ShowLogBanner();
    w.StartJournal(blocker.fileName());
    w.LogMessage(q274test::kIndent + QStringLiteral("still logged"));
    w.LogMessage(q274test::kIndent + QStringLiteral("and this"));
    EXPECT_EQ(w.LogText().count(QStringLiteral("Application ERROR:")), 1);
    EXPECT_TRUE(w.LogText().endsWith(QStringLiteral("and this\r\n")));
}

// SIGKILL in the middle of a session: the next start saves the journal in
// the log folder and says so; two programs keep two journals; a normal end
// removes its own.
TEST_F(JournalHome, KilledProgramsLogComesBackAtTheNextStart)
{
    auto journals = [&] { return QDir(State()).entryList({QStringLiteral("journal-*.log")}, QDir::Files); };

    q274test::ChildProcess first(Q274_PROGRAM_PATH, {});
    ASSERT_TRUE(first.Started());
    QString firstJournal;
    ASSERT_TRUE(WaitFor([&] { return Read(firstJournal = JournalOf(first.Pid())).contains("Logging enabled in Deg C"); }));
    const QByteArray before = Read(firstJournal);
    first.Signal(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return !first.Running(); }));

    q274test::ChildProcess second(Q274_PROGRAM_PATH, {});
    ASSERT_TRUE(second.Started());
    QString secondJournal;
    ASSERT_TRUE(WaitFor([&] { return Read(secondJournal = JournalOf(second.Pid())).contains("ended unexpectedly saved as"); }));
    const QStringList recovered = QDir(LogFolder()).entryList({QStringLiteral("Q274TC_recovered_*.log")}, QDir::Files);
    ASSERT_EQ(recovered.size(), 1);
    EXPECT_EQ(Read(LogFolder() + QLatin1Char('/') + recovered[0]), before);
    EXPECT_TRUE(Read(secondJournal).contains(recovered[0].toUtf8()));

    // A second program at the same time keeps its own journal; its normal
    // end (after saving a picture) removes it.
    q274test::ChildProcess third(Q274_PROGRAM_PATH,
                                 {"--screenshot", home.filePath(QStringLiteral("w.png")).toStdString()});
    ASSERT_TRUE(third.Started());
    EXPECT_TRUE(WaitFor([&] { return journals().size() == 2; }));
    EXPECT_EQ(third.Wait(20000), std::optional<int>(0));
    EXPECT_EQ(journals(), QStringList{QFileInfo(secondJournal).fileName()});
}
