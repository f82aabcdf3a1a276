// The log's journal through the window and through the real program: lines
// reach it as they are logged, a journal that cannot be written costs one
// error line, a killed program's log comes back at the next start, and a
// normal end leaves nothing behind.
#include "childprocess.h"
#include "mainwindow.h"
#include "journalhome.h"
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
using q274test::PollFor;

namespace {

// A private home for the test and the programs it starts.
class JournalHome : public q274test::JournalHomeTest {
protected:
    // The journal of the program with this pid, once it made one.
    QString JournalOf(qint64 pid) const
    {
        const QStringList names =
            QDir(State()).entryList({QStringLiteral("journal-%1-*.log").arg(pid)}, QDir::Files);
        return names.isEmpty() ? QString() : State() + QLatin1Char('/') + names[0];
    }
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
        EXPECT_TRUE(q274test::ReadAll(journal).contains("Logging enabled in Deg C\r\n"));
        EXPECT_TRUE(q274test::ReadAll(journal).endsWith("kept on disk\r\n"));
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
    ASSERT_TRUE(PollFor([&] { return q274test::ReadAll(firstJournal = JournalOf(first.Pid())).contains("Logging enabled in Deg C"); }));
    const QByteArray before = q274test::ReadAll(firstJournal);
    first.Signal(SIGKILL);
    ASSERT_TRUE(PollFor([&] { return !first.Running(); }));

    q274test::ChildProcess second(Q274_PROGRAM_PATH, {});
    ASSERT_TRUE(second.Started());
    QString secondJournal;
    ASSERT_TRUE(PollFor([&] { return q274test::ReadAll(secondJournal = JournalOf(second.Pid())).contains("ended unexpectedly saved as"); }));
    const QStringList recovered = QDir(LogFolder()).entryList({QStringLiteral("Q274TC_recovered_*.log")}, QDir::Files);
    ASSERT_EQ(recovered.size(), 1);
    EXPECT_EQ(q274test::ReadAll(LogFolder() + QLatin1Char('/') + recovered[0]), before);
    EXPECT_TRUE(q274test::ReadAll(secondJournal).contains(recovered[0].toUtf8()));

    // A second program at the same time keeps its own journal; its normal
    // end (after saving a picture) removes it.
    q274test::ChildProcess third(Q274_PROGRAM_PATH,
                                 {"--screenshot", home.filePath(QStringLiteral("w.png")).toStdString()});
    ASSERT_TRUE(third.Started());
    EXPECT_TRUE(PollFor([&] { return journals().size() == 2; }));
    EXPECT_EQ(third.Wait(20000), std::optional<int>(0));
    EXPECT_EQ(journals(), QStringList{QFileInfo(secondJournal).fileName()});
}
