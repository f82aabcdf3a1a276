// The window's data lines, log files and autosave, driven through the window
// with a scripted dialog seam, its port open on a pseudo-terminal and fake
// clocks.
#include "logfiles.h"
#include "mainwindow.h"
#include "protocol.h"
#include "uisync.h"

#include "support/mainwidgets.h"
#include "support/ptyport.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace q274;
using namespace q274test;

namespace {

q274test::TemporaryHome temporaryHome;

const QString kSaved = QStringLiteral("Previous Log contents saved, Log screen cleared");

// Monotonic fake ticks; the wall-clock millisecond follows them. Only the
// sleeps move the clocks, so pacing is exact and independent of the machine.
struct FakeClock {
    std::atomic<std::uint32_t> tick{0};
    std::atomic<int> wallOffset{0}; // wall ms = (tick + offset) mod 1000
    std::atomic<bool> workerFrozen{false}; // the worker's sleeps pass no fake time
    std::mutex mutex;
    std::vector<int> uiSleeps; // sleeps of the user-interface thread

    int WallMs() const { return int((std::uint64_t(tick.load()) + std::uint64_t(wallOffset.load())) % 1000); }
    // Sets the offset so the wall clock reads ms now.
    void SetWallMs(int ms) { wallOffset.store(int((1000 + ms - int(tick.load() % 1000)) % 1000)); }

    DataLineClocks Clocks()
    {
        DataLineClocks c;
        c.TickCount = [this] { return tick.load(); };
        c.WallMillisecond = [this] { return WallMs(); };
        c.Sleep = [this](int ms) {
            if (UiSync::IsMainThread()) {
                std::lock_guard<std::mutex> lock(mutex);
                uiSleeps.push_back(ms);
            } else {
                // A little real time per pass keeps the worker from spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (workerFrozen.load())
                    return;
            }
            tick.fetch_add(std::uint32_t(ms));
        };
        return c;
    }
    std::vector<int> UiSleeps()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return uiSleeps;
    }
};

// Data lines carry four TABs; messages and banner lines five.
QStringList DataLines(const TfrmMain &w)
{
    QStringList out;
    for (const QString &l : Lines(w.LogText()))
        if (l.count(u'\t') == 4)
            out << l;
    return out;
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

QStringList LogFilesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

// Shows board values ("?": no sensor) as replies would.
void SetReadouts(TfrmMain &w, const QString &a, const QString &b, const QString &c, const QString &d)
{
    int ch = 0;
    for (const QString &v : {a, b, c, d})
        w.ShowChannelTemperature(++ch, v);
}

class WindowLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        w.SetLogFolder(folder.path());
        ConnectThrough(w, pty); // data lines are written while the port is open
        w.ShowLogBanner();
    }

    ScriptedDialogs dialogs;
    QTemporaryDir folder;
    FakeClock clock; // outlives the window and its worker
    Pty pty;
    TfrmMain w;
};

// ---------------------------------------------------------------- data lines

TEST_F(WindowLog, DataLineCarriesTheReadoutsAsShownAndTheShortFieldForNoReading)
{
    SetReadouts(w, QStringLiteral("24.06"), QStringLiteral("22.12"), QStringLiteral("?"), QStringLiteral("?"));
    w.LogTemperatures();
    const QString last = Lines(w.LogText()).last();
    const QString fields = QStringLiteral("\t24.06\t22.12\t  -\t  -");
    ASSERT_TRUE(last.endsWith(fields)) << last.toStdString();
    // Nothing but the timestamp in front: date, blank, time.
    const QString stamp = last.left(last.size() - fields.size());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\S+( \\S.*)?$")).match(stamp).hasMatch()) << stamp.toStdString();
    EXPECT_FALSE(stamp.contains(u'\t'));

    w.LogModel().ShowMilliseconds = true;
    w.LogTemperatures();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("  \\(\\d{3}\\)\t24\\.06\t22\\.12\t  -\t  -$"))
                    .match(Lines(w.LogText()).last())
                    .hasMatch())
        << Lines(w.LogText()).last().toStdString();
}

TEST_F(WindowLog, DataLinesFollowTheUnitSwitch)
{
    Ui(w).cmbDeg->setCurrentIndex(Ui(w).cmbDeg->findText(QStringLiteral("F")));
    ASSERT_TRUE(w.UsesFahrenheit());
    // The next reading is shown in Fahrenheit; the line takes it as displayed.
    const QChar sep = w.DecimalSeparatorInUse().isEmpty() ? QChar('.') : w.DecimalSeparatorInUse().at(0);
    SetReadouts(w, QStringLiteral("24.06"), QStringLiteral("-5.5"), QStringLiteral("?"), QStringLiteral("100"));
    w.LogTemperatures();
    const QString expected = QStringLiteral("\t75") + sep + QStringLiteral("31\t22") + sep
                             + QStringLiteral("10\t  -\t212") + sep + QStringLiteral("00");
    EXPECT_TRUE(Lines(w.LogText()).last().endsWith(expected)) << Lines(w.LogText()).last().toStdString();
}

TEST_F(WindowLog, NoDataLineWhileLoggingIsDisabledAndNoAutosaveEither)
{
    Ui(w).chkLog->click();
    ASSERT_FALSE(Ui(w).chkLog->isChecked());
    const QString before = w.LogText();
    w.SetAutosaveClock([] { return QDateTime::currentDateTime().addDays(3); });
    w.LogTemperatures();
    EXPECT_EQ(w.LogText(), before);
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("0"));
    EXPECT_TRUE(LogFilesIn(folder.path()).isEmpty());
}

TEST_F(WindowLog, ClosedPortWritesNoLineButStillChecksTheAutosave)
{
    w.btnConnClick();
    const int before = int(Lines(w.LogText()).size());
    w.LogTemperatures();
    EXPECT_EQ(int(Lines(w.LogText()).size()), before);

    w.SetAutosaveClock([] { return QDateTime::currentDateTime().addDays(2); });
    w.LogTemperatures();
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("1"));
    EXPECT_EQ(LogFilesIn(folder.path()).size(), 1);
    EXPECT_TRUE(DataLines(w).isEmpty());
}

TEST_F(WindowLog, StartHoldsEarlyAndLateRepliesAndLogsTheReferenceMillisecond)
{
    struct Case {
        int wallMs;
        std::vector<int> held;
    };
    for (const Case &c : {Case{80, {95}}, Case{900, {275}}, Case{500, {}}, Case{124, {51}}, Case{851, {275}}}) {
        FakeClock fake; // outlives the window and its worker
        // Otherwise a worker pass reaching the due line moves the reference
        // before it is read here.
        fake.workerFrozen.store(true);
        Pty board;
        TfrmMain win;
        ConnectThrough(win, board);
        fake.SetWallMs(c.wallMs);
        win.SetDataLineInterval(3600000); // no worker line during the test
        win.SetDataLineClocks(fake.Clocks());
        win.LogModel().ShowMilliseconds = true;
        win.SetFirstSamplePending(true);
        win.ShowLogBanner();
        win.StartDataLogging();

        EXPECT_EQ(fake.UiSleeps(), c.held) << "first reply at ms " << c.wallMs;
        EXPECT_EQ(win.ReferenceMs(), 350);
        EXPECT_FALSE(win.IsFirstSamplePending());
        EXPECT_EQ(win.DataLines().ReferenceTick(), std::uint32_t(c.held.empty() ? 0 : c.held[0]));
        const QStringList l = Lines(win.LogText());
        ASSERT_GE(l.size(), 2);
        EXPECT_TRUE(l[l.size() - 2].endsWith(kIndent + QStringLiteral("RefMS:  350"))) << l[l.size() - 2].toStdString();
        EXPECT_EQ(l.last().count(u'\t'), 4) << "the first data line follows";
        win.StopDataLogging();
    }
}

TEST_F(WindowLog, StartWithoutMillisecondsWritesOnlyTheDataLine)
{
    clock.SetWallMs(500);
    w.SetDataLineInterval(3600000);
    w.SetDataLineClocks(clock.Clocks());
    const int before = int(Lines(w.LogText()).size());
    w.StartDataLogging();
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(int(l.size()), before + 1);
    EXPECT_EQ(l.last().count(u'\t'), 4);
    EXPECT_FALSE(w.LogText().contains(QStringLiteral("RefMS")));
    EXPECT_TRUE(w.DataLines().Running());
}

TEST_F(WindowLog, WorkerPacesLinesAtTheAlignedMillisecondAcrossTheTickWrap)
{
    clock.tick.store(0xFFFFF000u); // wraps after about four lines
    clock.SetWallMs(340);          // not held; the next line aligns
    // The fake tick and wall millisecond as each data line reaches the log.
    std::vector<std::pair<std::uint32_t, int>> clocks;
    const auto view = w.LogModel().OnAppend;
    const auto restore = qScopeGuard([&] { w.LogModel().OnAppend = view; });
    w.LogModel().OnAppend = [&](const QString &line) {
        if (line.count(u'\t') == 4)
            clocks.emplace_back(clock.tick.load(), clock.WallMs());
        view(line);
    };
    w.SetDataLineInterval(1000);
    w.SetDataLineClocks(clock.Clocks());
    w.StartDataLogging();

    ASSERT_TRUE(WaitFor([&] { return DataLines(w).size() >= 7; }, kPatience)) << DataLines(w).size();
    w.StopDataLogging();
    ASSERT_TRUE(WaitFor([&] { return !w.DataLines().Running(); }, kPatience));

    ASSERT_GE(clocks.size(), 7u);
    bool wrapped = false;
    for (std::size_t i = 1; i < clocks.size(); ++i) {
        const std::uint32_t gap = clocks[i].first - clocks[i - 1].first;
        EXPECT_GE(gap, 955u) << "line " << i;
        EXPECT_LE(gap, 1000u + 30u + 350u) << "line " << i;
        EXPECT_EQ(clocks[i].second, 350) << "line " << i << " aligned to the 350 ms mark";
        wrapped = wrapped || clocks[i].first < clocks[i - 1].first;
    }
    EXPECT_TRUE(wrapped);
}

TEST_F(WindowLog, NoLineAfterTheStopEvenWithThePortStillReportedOpen)
{
    clock.SetWallMs(500);
    w.SetDataLineInterval(200);
    w.SetDataLineClocks(clock.Clocks());
    w.StartDataLogging();
    ASSERT_TRUE(WaitFor([&] { return DataLines(w).size() >= 3; }, kPatience));

    w.StopDataLogging();
    const int count = int(DataLines(w).size());
    ASSERT_TRUE(WaitFor([&] { return !w.DataLines().Running(); }, kPatience));
    UiSync::ProcessPending();
    EXPECT_EQ(int(DataLines(w).size()), count);

    // A new connection starts a fresh worker.
    w.StartDataLogging();
    ASSERT_TRUE(WaitFor([&] { return int(DataLines(w).size()) >= count + 3; }, kPatience));
}

TEST_F(WindowLog, NoWorkerLineBetweenIdentificationAndTheFirstReading)
{
    clock.SetWallMs(500);
    w.SetDataLineInterval(100);
    w.SetDataLineClocks(clock.Clocks());
    w.StartDataLogging();
    ASSERT_TRUE(WaitFor([&] { return DataLines(w).size() >= 2; }, kPatience));
    w.SetFirstSamplePending(true); // the board was identified again
    const std::uint32_t from = clock.tick.load();
    const int count = int(DataLines(w).size());
    // Several intervals pass on the fake clock without a line.
    ASSERT_TRUE(WaitFor([&] { return clock.tick.load() - from > 1000; }, kPatience));
    UiSync::ProcessPending();
    EXPECT_EQ(int(DataLines(w).size()), count);
}

TEST_F(WindowLog, FailedAutosaveFromTheWorkerIsLoggedWithoutABoxAndPacingGoesOn)
{
    clock.SetWallMs(500);
    w.SetDataLineInterval(300);
    w.SetDataLineClocks(clock.Clocks());
    w.SetLogFolder(folder.path() + QStringLiteral("/missing")); // no such folder
    w.StartDataLogging();
    ASSERT_TRUE(WaitFor([&] { return DataLines(w).size() >= 2; }, kPatience));

    w.SetAutosaveClock([] { return QDateTime::currentDateTime().addDays(2); });
    ASSERT_TRUE(WaitFor([&] { return w.LogText().contains(QStringLiteral("Application ERROR:")); }, kPatience));
    const int count = int(DataLines(w).size());
    ASSERT_TRUE(WaitFor([&] { return int(DataLines(w).size()) >= count + 2; }, kPatience)) << "the pacing went on";
    w.StopDataLogging();

    EXPECT_FALSE(dialogs.Kinds().contains(QStringLiteral("error"))) << "no box for the worker's errors";
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("1"));
    EXPECT_EQ(w.LogText().count(QStringLiteral("Application ERROR:")), 1) << "retried only after the interval";
    EXPECT_TRUE(LogFilesIn(folder.path()).isEmpty());
}

TEST_F(WindowLog, DestroyingTheWindowEndsARunningWorker)
{
    clock.SetWallMs(500);
    Pty board;
    auto win = std::make_unique<TfrmMain>();
    ConnectThrough(*win, board);
    win->SetDataLineInterval(50);
    win->SetDataLineClocks(clock.Clocks());
    win->ShowLogBanner();
    win->StartDataLogging();
    ASSERT_TRUE(WaitFor([&] { return DataLines(*win).size() >= 3; }, kPatience));
    win.reset(); // must not hang or touch the window afterwards
    UiSync::ProcessPending();
    SUCCEED();
}

// ---------------------------------------------------------------- saving

TEST_F(WindowLog, ManualNameUsesTheShortDateWithDashesForUsAndDottedLocales)
{
    struct Case {
        QLocale locale;
        QString pattern;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates),
         QStringLiteral("^Q274TC_\\d{1,2}-\\d{1,2}-\\d{4}_\\d{2}-\\d{2}-\\d{2}$")},
        {QLocale(QLocale::German, QLocale::Germany),
         QStringLiteral("^Q274TC_\\d{2}-\\d{2}-\\d{4}_\\d{2}-\\d{2}-\\d{2}$")},
    };
    for (const Case &c : cases) {
        dialogs.requests.clear();
        w.SetLocale(c.locale);
        const QDate before = QDate::currentDate();
        dialogs.answers = {true};
        Ui(w).btnLogSave->click();
        const QDate after = QDate::currentDate();
        ASSERT_EQ(dialogs.Kinds(), (QStringList{"question", "save"}));
        const SaveFileRequest &r = dialogs.requests[1].save;
        EXPECT_TRUE(QRegularExpression(c.pattern).match(r.fileName).hasMatch()) << r.fileName.toStdString();
        const QString datePart = r.fileName.section(u'_', 1, 1);
        EXPECT_TRUE(datePart == LogFileDatePart(before, c.locale) || datePart == LogFileDatePart(after, c.locale))
            << datePart.toStdString();
        EXPECT_EQ(r.initialFolder, w.LogFolderInUse());
        EXPECT_EQ(r.defaultSuffix, QStringLiteral("log"));
        EXPECT_EQ(r.filter, QStringLiteral("Log files (*.log)"));
    }
    // With German settings the days come first: 08-12-2026 for 8 December.
    EXPECT_EQ(LogFileDatePart(QDate(2026, 12, 8), QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("08-12-2026"));
}

TEST_F(WindowLog, SavedFileHoldsExactlyTheViewWithCrLfAndNoByteOrderMark)
{
    w.LogMessage(kIndent + QStringLiteral("first"));
    w.AppendLogLine(QStringLiteral(" "));
    SetReadouts(w, QStringLiteral("24.06"), QStringLiteral("?"), QStringLiteral("1.5"), QStringLiteral("?"));
    w.LogTemperatures();
    const QByteArray expected = w.LogText().toLatin1();
    ASSERT_TRUE(expected.endsWith("\r\n"));

    const QString path = folder.filePath(QStringLiteral("manual.log"));
    dialogs.answers = {true};
    dialogs.saveAnswers = {path};
    Ui(w).btnLogSave->click();

    const QByteArray bytes = ReadFile(path);
    EXPECT_EQ(bytes, expected);
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n')) << "every line ends in CR LF";

    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 8);
    EXPECT_TRUE(l[6].endsWith(QStringLiteral("Logging enabled in Deg C")));
    EXPECT_TRUE(l[7].endsWith(kIndent + kSaved));
    EXPECT_EQ(LogFilesIn(folder.path()), QStringList{QStringLiteral("manual.log")}) << "no temporary left";
}

TEST_F(WindowLog, SaveLogAnsweredNoOrCancelledChangesNothing)
{
    w.LogMessage(kIndent + QStringLiteral("keep me"));
    const QString before = w.LogText();
    const QDateTime lastAutosave = w.LogModel().LastAutosaveTime;

    dialogs.answers = {false};
    Ui(w).btnLogSave->click();
    EXPECT_EQ(dialogs.Kinds(), QStringList{"question"});

    dialogs.answers = {true};
    dialogs.saveAnswers = {std::nullopt};
    w.FormKeyDown(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(dialogs.Kinds(), (QStringList{"question", "question", "save"}));

    EXPECT_EQ(w.LogText(), before);
    EXPECT_EQ(w.LogModel().LastAutosaveTime, lastAutosave);
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("0"));
    EXPECT_TRUE(LogFilesIn(folder.path()).isEmpty());
}

TEST_F(WindowLog, SaveLogWithLoggingDisabledStillSavesAndDropsTheSavedLine)
{
    Ui(w).chkLog->click();
    const QString path = folder.filePath(QStringLiteral("off.log"));
    dialogs.answers = {true};
    dialogs.saveAnswers = {path};
    w.FormKeyDown(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(ReadFile(path).contains("Logging disabled"));
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 7);
    EXPECT_TRUE(l[6].endsWith(kIndent + QStringLiteral("Logging disabled")));
}

TEST_F(WindowLog, ClearLogSavesOnYesAndRestartsInEveryCase)
{
    w.LogMessage(kIndent + QStringLiteral("before clear"));
    const QString path = folder.filePath(QStringLiteral("clear.log"));
    dialogs.answers = {true};
    dialogs.saveAnswers = {path};
    Ui(w).btnClearLog->click();
    EXPECT_TRUE(ReadFile(path).contains("before clear"));
    QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 8);
    EXPECT_TRUE(l[7].endsWith(kIndent + QStringLiteral("Log contents have been cleared")));

    // No, and Yes with a cancelled dialog: no file, the view restarts anyway.
    for (bool yes : {false, true}) {
        w.LogMessage(kIndent + QStringLiteral("again"));
        dialogs.answers = {yes};
        Ui(w).btnClearLog->click();
        l = Lines(w.LogText());
        ASSERT_EQ(l.size(), 8);
        EXPECT_FALSE(w.LogText().contains(QStringLiteral("again")));
    }
    EXPECT_EQ(LogFilesIn(folder.path()), QStringList{QStringLiteral("clear.log")});
}

TEST_F(WindowLog, ClearLogWhoseSaveFailsKeepsTheLog)
{
    w.LogMessage(kIndent + QStringLiteral("kept"));
    const QString before = w.LogText();
    dialogs.answers = {true};
    dialogs.saveAnswers = {folder.path()}; // a folder: the write fails
    Ui(w).btnClearLog->click();
    const QStringList l = Lines(w.LogText());
    EXPECT_TRUE(w.LogText().startsWith(before));
    EXPECT_FALSE(w.LogText().contains(QStringLiteral("Log contents have been cleared")));
    EXPECT_TRUE(l.last().contains(kIndent + QStringLiteral("Application ERROR: "))) << l.last().toStdString();
    EXPECT_EQ(dialogs.Kinds(), (QStringList{"question", "save", "error"}));
}

TEST_F(WindowLog, SaveIntoADirectoryKeepsTheViewAndLogsTheError)
{
    const QString target = folder.filePath(QStringLiteral("taken.log"));
    ASSERT_TRUE(QDir().mkdir(target));
    w.LogMessage(kIndent + QStringLiteral("precious"));
    const QString before = w.LogText();

    dialogs.answers = {true};
    dialogs.saveAnswers = {target};
    Ui(w).btnLogSave->click();

    const QString after = w.LogText();
    ASSERT_TRUE(after.startsWith(before)) << "the view was kept";
    const QStringList added = after.mid(before.size()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(added.size(), 1);
    EXPECT_TRUE(added[0].contains(kIndent + QStringLiteral("Application ERROR: "))) << added[0].toStdString();
    EXPECT_TRUE(added[0].contains(target));
    EXPECT_EQ(dialogs.Kinds(), (QStringList{"question", "save", "error"}));
    EXPECT_TRUE(QFileInfo(target).isDir());
    EXPECT_EQ(LogFilesIn(folder.path()), QStringList{}) << "no temporary left";
}

TEST_F(WindowLog, CloseAsksToSaveWritesOnYesAndClosesOnNoOrCancel)
{
    w.btnConnClick(); // no question about disconnecting
    const QString path = folder.filePath(QStringLiteral("exit.log"));
    w.show();
    w.LogMessage(kIndent + QStringLiteral("session"));
    dialogs.answers = {true};
    dialogs.saveAnswers = {path};
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(ReadFile(path).contains("session"));

    for (bool yes : {false, true}) {
        dialogs.requests.clear();
        w.show();
        dialogs.answers = {yes};
        EXPECT_TRUE(w.close());
        EXPECT_EQ(dialogs.Kinds(), yes ? (QStringList{"question", "save"}) : QStringList{"question"});
    }
    EXPECT_EQ(LogFilesIn(folder.path()), QStringList{QStringLiteral("exit.log")});
}

TEST_F(WindowLog, FailedSaveAtCloseKeepsTheWindowOpen)
{
    w.btnConnClick();
    w.show();
    dialogs.answers = {true};
    dialogs.saveAnswers = {folder.path()};
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(Lines(w.LogText()).last().contains(QStringLiteral("Application ERROR: ")));
    EXPECT_TRUE(dialogs.Kinds().contains(QStringLiteral("error")));
}

// ---------------------------------------------------------------- autosave

TEST_F(WindowLog, AutosaveAfterTheIntervalCountsRestartsAndNamesTheFile)
{
    SetReadouts(w, QStringLiteral("20.5"), QStringLiteral("21.5"), QStringLiteral("22.5"), QStringLiteral("23.5"));
    const QDateTime start = w.LogModel().LastAutosaveTime;
    QDateTime now = start.addSecs(24 * 3600 - 60);
    w.SetAutosaveClock([&now] { return now; });

    w.LogTemperatures();
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("0")) << "not yet due";
    EXPECT_TRUE(LogFilesIn(folder.path()).isEmpty());

    now = start.addSecs(24 * 3600 + 1);
    w.LogTemperatures();
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("1"));
    EXPECT_EQ(w.LogModel().LastAutosaveTime, now);
    const QStringList files = LogFilesIn(folder.path());
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0], ManualLogName(now.date(), now.time(), w.LocaleInUse()) + QStringLiteral(".log"));
    const QByteArray saved = ReadFile(folder.filePath(files[0]));
    EXPECT_EQ(saved.count("\t20.5\t21.5\t22.5\t23.5\r\n"), 2) << "both data lines went into the file";

    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 8) << "the view restarted";
    EXPECT_TRUE(l[7].endsWith(kIndent + kSaved));

    // A minute later: the next data line, no second autosave.
    now = now.addSecs(60);
    w.LogTemperatures();
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("1"));
    EXPECT_EQ(DataLines(w).size(), 1);
}

TEST_F(WindowLog, OpeningThePortRestartsTheAutosaveClock)
{
    SetReadouts(w, QStringLiteral("20.5"), QStringLiteral("21.5"), QStringLiteral("22.5"), QStringLiteral("23.5"));
    const QDateTime start = w.LogModel().LastAutosaveTime;
    QDateTime now = start.addSecs(23 * 3600 + 59 * 60);
    w.SetAutosaveClock([&now] { return now; });

    // Connected for 23 h 59 min, then reconnected: the day counts again.
    w.ShowConnected();
    now = start.addSecs(24 * 3600 + 60);
    w.LogTemperatures();
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("0"));
    EXPECT_TRUE(LogFilesIn(folder.path()).isEmpty());

    now = start.addSecs(2 * 24 * 3600);
    w.LogTemperatures();
    EXPECT_EQ(Ui(w).lblSaveCount->text(), QStringLiteral("1"));
}

TEST_F(WindowLog, AutosaveIntervalNamesAreExact)
{
    w.SetAutosaveInterval(QStringLiteral("6h"));
    EXPECT_DOUBLE_EQ(w.LogModel().AutosaveInterval, 0.25);
    w.SetAutosaveInterval(QStringLiteral("6H"));
    EXPECT_DOUBLE_EQ(w.LogModel().AutosaveInterval, 1.0);
}

} // namespace
