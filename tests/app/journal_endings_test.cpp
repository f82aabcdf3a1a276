// How the real program's sessions end and what becomes of their log: killed
// again and again where every run has the same pid (a container), and ended
// by the signals of a shutdown, a logout or a terminal.
#include "childprocess.h"
#include "journal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <functional>
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
