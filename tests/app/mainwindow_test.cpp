#include "about.h"
#include "application.h"
#include "comerrors.h"
#include "help.h"
#include "look.h"
#include "mainwindow.h"
#include "rstrings.h"
#include "setupdialog.h"
#include "shellrules.h"
#include "uisync.h"

#include "support/mainwidgets.h"
#include "support/ptyport.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

using namespace q274;
using namespace q274test;

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadChecked = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadChecked = true;
#else
constexpr bool kThreadChecked = false;
#endif
#else
constexpr bool kThreadChecked = false;
#endif

void Press(TfrmMain &w, int key, Qt::KeyboardModifiers mods)
{
    // Through the window system, as a real key arrives: to the window, then
    // to its focused control and on to the control's parents. The window
    // previews the keys as the program's start-up has it do.
    qApp->installEventFilter(&w);
    w.winId();
    QTest::keyClick(w.windowHandle(), Qt::Key(key), mods);
}

// The event messages of the log from its line `from` on.
QStringList MessagesFrom(TfrmMain &w, qsizetype from)
{
    return Messages(w.LogModel().Lines().mid(from).join(QLatin1Char('\n')), kIndent);
}

class MainWindow : public ::testing::Test {
protected:
    ScriptedDialogs dialogs;
    Pty pty;
    TfrmMain w;
};

} // namespace

TEST_F(MainWindow, ControlsSitWhereTheLayoutPutsThem)
{
    EXPECT_EQ(w.size(), QSize(852, 523));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(Ui(w).pnlButtons->geometry(), QRect(732, 2, 120, 521));
    EXPECT_EQ(Ui(w).btnConn->parentWidget(), Ui(w).pnlButtons);
    EXPECT_EQ(Ui(w).btnConn->geometry(), QRect(11, 491, 98, 23));
    EXPECT_EQ(Ui(w).btnCOM->geometry(), QRect(11, 112, 98, 23));
    EXPECT_EQ(Ui(w).lblSaveCount->geometry(), QRect(11, 203, 98, 19));
    EXPECT_EQ(Ui(w).gbCh3->geometry(), QRect(388, 7, 140, 60));
    EXPECT_EQ(Ui(w).gbCh3->mapTo(&w, QPoint(0, 0)).x(), 388);
    EXPECT_EQ(Ui(w).lblCh2->geometry(), QRect(2, 24, 135, 32));
    EXPECT_EQ(Ui(w).shp4->geometry(), QRect(115, 32, 16, 16));
    EXPECT_EQ(Channel(w, 2).Box->geometry(), QRect(198, 8, 140, 392));
    EXPECT_EQ(Channel(w, 4).Box->x(), 572);
}

TEST_F(MainWindow, EveryNamedControlIsFoundByItsName)
{
    for (const char *name :
         {"lblTDisplay", "cmbDeg",  "btnCOM",   "lblLogEnable", "chkLog",     "lblSaveCount", "btnClearLog",
          "btnLogSave",  "btnHelp", "btnAbout", "btnConn",      "tabControl", "tabLog",       "memLog",
          "edtSP1",      "edtSp2",  "edtSP3",   "edtSP4",       "UpDown1",    "UpDown7",      "UpDown5",
          "UpDown3",     "UpDown2", "UpDown8",  "UpDown6",      "UpDown4",    "Bevel3",       "lblMan4",
          "chkM2",       "btnR4",   "shp1",     "gbRC3",        "cmbMode2",   "chkEnable4"})
        EXPECT_NE(w.findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(Channel(w, 3).EnableBox->property("Tag").toInt(), 3);
    EXPECT_EQ(Channel(w, 2).RelayButton->property("Tag").toInt(), 2);
    EXPECT_EQ(Ui(w).shp1->toolTip(), QStringLiteral("Ch1  Relay"));
    EXPECT_EQ(Ui(w).lblCh4->toolTip(), QStringLiteral("Ch4  Temperature"));
    EXPECT_EQ(Ui(w).lblSaveCount->toolTip(), QStringLiteral("Autosave Log count"));
}

TEST_F(MainWindow, CaptionsComeFromTheMessageTable)
{
    w.ApplyCaptions();
    EXPECT_EQ(Ui(w).gbCh1->title(), QStringLiteral(" Ch 1 "));
    EXPECT_EQ(Ui(w).gbCh4->title(), QStringLiteral(" Ch 4 "));
    EXPECT_EQ(Channel(w, 3).Box->title(), QStringLiteral(" Relay Control "));
    EXPECT_EQ(Channel(w, 2).EnableBox->text(), QStringLiteral("Enabled"));
    EXPECT_EQ(Channel(w, 1).SetPointLabel->text(), QStringLiteral("SetPoint"));
    EXPECT_EQ(Channel(w, 4).DropoutLabel->text(), QStringLiteral("Dropout"));
    EXPECT_EQ(Channel(w, 3).ModeLabel->text(), QStringLiteral("Mode"));
    EXPECT_EQ(Channel(w, 2).OverrideLabel->text(), QStringLiteral("Manual Overrides Control"));
    EXPECT_EQ(Channel(w, 3).RelayButton->text(), QStringLiteral("R3 Manual"));
    EXPECT_EQ(Ui(w).lblTDisplay->text(), QStringLiteral("Temperature Display"));
    EXPECT_EQ(Ui(w).lblLogEnable->text(), QStringLiteral("Enable Logging"));
    EXPECT_EQ(Ui(w).pgMain->tabText(0), QStringLiteral("Control"));
    EXPECT_EQ(Ui(w).pgMain->tabText(1), QStringLiteral("Log"));
    EXPECT_EQ(Ui(w).btnConn->text(), QStringLiteral("Connect"));
}

TEST_F(MainWindow, StartsFromTheDefaults)
{
    EXPECT_FALSE(w.UsesFahrenheit());
    EXPECT_FALSE(w.LogModel().ShowMilliseconds);
    EXPECT_FALSE(w.IsFirstSamplePending());
    EXPECT_EQ(w.Connection()->Poller().NextChannel(), 1);
    EXPECT_EQ(q274test::kIndent, kIndent);
    EXPECT_EQ(w.LogModel().AutosaveInterval, 1.0);
    EXPECT_EQ(w.DataLineIntervalMs(), 60000);
    EXPECT_EQ(w.Connection()->ComPort()->Port(), QStringLiteral("COM1"));
    EXPECT_TRUE(Ui(w).chkLog->isChecked());
    EXPECT_EQ(Ui(w).cmbDeg->currentText(), QStringLiteral("C"));
    EXPECT_EQ(Ui(w).pgMain->currentWidget(), Ui(w).tabControl);
    for (int ch = 1; ch <= 4; ++ch) {
        const auto &s = w.ChannelState().Settings(ch);
        EXPECT_FALSE(s.Enabled);
        EXPECT_EQ(s.SetPoint, 30);
        EXPECT_EQ(s.Dropout, 3);
        EXPECT_EQ(s.Mode, QStringLiteral("Heat"));
        EXPECT_TRUE(s.ManualOverrides);
        EXPECT_EQ(Channel(w, ch).SetPointEdit->text(), QStringLiteral("30"));
        EXPECT_TRUE(Channel(w, ch).SetPointEdit->isReadOnly());
        EXPECT_EQ(Channel(w, ch).ModeList->count(), 2);
        EXPECT_EQ(Channel(w, ch).ModeList->itemText(0), QStringLiteral("Cool"));
        EXPECT_EQ(Channel(w, ch).Indicator->PenColor(), QColor(106, 106, 106));
        EXPECT_EQ(Channel(w, ch).Indicator->BrushColor(), QColor(192, 192, 192));
        EXPECT_EQ(Channel(w, ch).Readout->text(), QStringLiteral(" -"));
        EXPECT_EQ(Channel(w, ch).Readout->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    }
}

// The indicator keeps its drawn circle between paints: each colour change
// must show at the next one, the other colour kept.
TEST(Indicator, ShowsEachColourChange)
{
    TShape shape;
    const QColor grey(192, 192, 192), blue(0, 0, 255);
    const auto at = [&](int x, int y) { return shape.grab().toImage().pixelColor(x, y); };
    EXPECT_EQ(at(8, 8), grey);
    shape.SetBrushColor(Qt::red);
    EXPECT_EQ(at(8, 8), QColor(Qt::red));
    shape.SetPenColor(blue); // the ring's 2 pixels cover x = 0..2
    EXPECT_EQ(at(1, 8), blue);
    EXPECT_EQ(at(8, 8), QColor(Qt::red));
    shape.SetBrushColor(grey);
    EXPECT_EQ(at(8, 8), grey);
    EXPECT_EQ(at(1, 8), blue);
}

TEST_F(MainWindow, PanelChangesAreReadBackAsAWhole)
{
    Channel(w, 3).EnableBox->click();
    EXPECT_TRUE(w.ChannelState().Settings(3).Enabled);
    EXPECT_EQ(Ui(w).shp3->PenColor(), QColor(255, 0, 0));
    EXPECT_EQ(Ui(w).shp2->PenColor(), QColor(106, 106, 106));
    Channel(w, 2).ModeList->setCurrentIndex(0);
    EXPECT_EQ(w.ChannelState().Settings(2).Mode, QStringLiteral("Cool"));
    Channel(w, 4).OverrideBox->click();
    EXPECT_FALSE(w.ChannelState().Settings(4).ManualOverrides);
    Channel(w, 2).SetPointSpinner->Click(true);
    EXPECT_EQ(Channel(w, 2).SetPointEdit->text(), QStringLiteral("31"));
    EXPECT_EQ(w.ChannelState().Settings(2).SetPoint, 31);
    Channel(w, 4).DropoutSpinner->Click(false);
    EXPECT_EQ(w.ChannelState().Settings(4).Dropout, 2);
}

TEST_F(MainWindow, SpinnersStopAtTheirLimits)
{
    for (int i = 0; i < 200; ++i)
        Channel(w, 1).SetPointSpinner->Click(true);
    EXPECT_EQ(Channel(w, 1).SetPointEdit->text(), QStringLiteral("150"));
    Channel(w, 1).SetPointSpinner->Click(true);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, 150);
    for (int i = 0; i < 200; ++i)
        Channel(w, 1).SetPointSpinner->Click(false);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, -15);
    EXPECT_EQ(Channel(w, 1).SetPointEdit->text(), QStringLiteral("-15"));
    for (int i = 0; i < 30; ++i)
        Channel(w, 2).DropoutSpinner->Click(false);
    EXPECT_EQ(w.ChannelState().Settings(2).Dropout, 2);
    for (int i = 0; i < 30; ++i)
        Channel(w, 2).DropoutSpinner->UpButton()->click();
    EXPECT_EQ(w.ChannelState().Settings(2).Dropout, 25);
    EXPECT_EQ(Channel(w, 2).DropoutEdit->text(), QStringLiteral("25"));
}

TEST_F(MainWindow, UnitSwitchLogsAndAppliesButConvertsNothing)
{
    w.ShowLogBanner();
    Ui(w).cmbDeg->setCurrentIndex(1);
    EXPECT_TRUE(w.UsesFahrenheit());
    EXPECT_TRUE(Lines(w.LogText()).last().endsWith(kIndent + QStringLiteral("Logging in Deg F")));
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, 30);

    Ui(w).chkLog->click(); // logging off: the unit still changes, the line is dropped
    const int before = Lines(w.LogText()).size();
    Ui(w).cmbDeg->setCurrentIndex(0);
    EXPECT_FALSE(w.UsesFahrenheit());
    EXPECT_EQ(Lines(w.LogText()).size(), before);
}

TEST_F(MainWindow, LogMessageWhileLoggingIsDisabledPassesOnlyTheDisabledLine)
{
    Ui(w).chkLog->setChecked(false);
    w.LogModel().ShowMilliseconds = true;
    w.LogMessage(kIndent + QStringLiteral("Q274 found"));
    EXPECT_EQ(w.LogText(), QString());
    w.LogMessage(kIndent + QStringLiteral("Logging disabled"));
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 1);
    EXPECT_TRUE(l[0].endsWith(kIndent + QStringLiteral("Logging disabled")));
    EXPECT_FALSE(l[0].contains(QRegularExpression(QStringLiteral("  \\(\\d{3}\\)"))));

    Ui(w).chkLog->setChecked(true);
    w.LogMessage(kIndent + QStringLiteral("Q274 found"));
    EXPECT_TRUE(Lines(w.LogText()).last().contains(QRegularExpression(QStringLiteral("  \\(\\d{3}\\)\t"))));
}

TEST_F(MainWindow, AppendingAlwaysGoesToTheEndWhereverTheCaretIs)
{
    w.LogMessage(kIndent + QStringLiteral("one"));
    w.LogMessage(kIndent + QStringLiteral("two"));
    QTextCursor c = Ui(w).memLog->textCursor();
    c.movePosition(QTextCursor::Start);
    Ui(w).memLog->setTextCursor(c);
    w.LogMessage(kIndent + QStringLiteral("three"));
    w.AppendLogLine(QStringLiteral(" "));
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 4);
    EXPECT_TRUE(l[2].endsWith(QStringLiteral("three")));
    EXPECT_EQ(l[3], QStringLiteral(" "));
}

TEST_F(MainWindow, BannerRestartsTheViewAndSetsTheTitles)
{
    w.LogMessage(kIndent + QStringLiteral("old line"));
    w.ShowLogBanner();
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 7);
    EXPECT_EQ(l[0], kIndent + QStringLiteral("Q274 Temperature Controller Standard for Linux"));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(l[i].startsWith(kIndent) && l[i].size() > kIndent.size()) << i;
    EXPECT_EQ(l[4], QString());
    EXPECT_EQ(l[5], QString());
    EXPECT_TRUE(l[6].endsWith(kIndent + QStringLiteral("Logging enabled in Deg C")));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Veltrona - Q274 Temperature Controller Standard"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Veltrona - Q274 Temperature Controller Standard"));
    EXPECT_TRUE(Ui(w).memLog->updatesEnabled());
}

TEST_F(MainWindow, ShowingTheWindowWritesTheBanner)
{
    w.show();
    EXPECT_EQ(Lines(w.LogText()).size(), 7);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Veltrona - Q274 Temperature Controller Standard"));
    w.hide();
    w.show(); // only the first show restarts the view
    EXPECT_EQ(Lines(w.LogText()).size(), 7);
}

TEST_F(MainWindow, ClearLogWhileLoggingAsksToSaveThenRestarts)
{
    w.LogMessage(kIndent + QStringLiteral("something"));
    Ui(w).btnClearLog->click();
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].text, QStringLiteral("Save the Log?"));
    EXPECT_EQ(dialogs.requests[0].title, QStringLiteral("Confirm"));
    EXPECT_EQ(dialogs.requests[0].icon, DialogIcon::Question);
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 8);
    EXPECT_TRUE(l[6].endsWith(QStringLiteral("Logging enabled in Deg C")));
    EXPECT_TRUE(l[7].endsWith(kIndent + QStringLiteral("Log contents have been cleared")));
}

TEST_F(MainWindow, ClearLogWhileNotLoggingAsksNothing)
{
    Ui(w).chkLog->click();
    Ui(w).btnClearLog->click();
    EXPECT_TRUE(dialogs.requests.empty());
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 7);
    EXPECT_TRUE(l[6].endsWith(kIndent + QStringLiteral("Logging disabled")));
}

TEST_F(MainWindow, CtrlETwiceReturnsTheBoxAndWritesTwoStateLines)
{
    w.ShowLogBanner();
    Press(w, Qt::Key_E, Qt::ControlModifier);
    EXPECT_FALSE(Ui(w).chkLog->isChecked());
    Press(w, Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(Ui(w).chkLog->isChecked());
    const QStringList l = Lines(w.LogText());
    ASSERT_EQ(l.size(), 9);
    EXPECT_TRUE(l[7].endsWith(kIndent + QStringLiteral("Logging disabled")));
    EXPECT_TRUE(l[8].endsWith(kIndent + QStringLiteral("Logging enabled in Deg C")));
}

// Each shortcut is known by what its handler does: the box it opens or the
// lines it logs, once.
TEST_F(MainWindow, ShortcutsReachTheirTargetsOnceEach)
{
    SetDocumentLauncher(QStringLiteral("/nonexistent/opener")); // Help reports, built manual or not
    SetSetupDialogRunner([](QDialog &d) { return CurrentDialogs().RunDialog(d, QStringLiteral("port setup")); });
    InstallSetupDialog({});
    const auto restore = qScopeGuard([] {
        SetDocumentLauncher({});
        SetSetupDialogRunner({});
        TCustomComPort::SetEditSettingsHandler({});
    });
    w.show();
    ConnectThrough(w, pty);
    const auto ctrl = Qt::ControlModifier;
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        QStringList boxes; // the kind, or a question's text
        QStringList logged;
    };
    const Case cases[] = {
        {Qt::Key_S, ctrl | Qt::ShiftModifier, {"Save the Log?"}, {}},
        {Qt::Key_1, ctrl | Qt::KeypadModifier, {}, {"Manual - R1 - ON"}},
        {Qt::Key_3, ctrl, {}, {"Manual - R3 - ON"}},
        {Qt::Key_F1, Qt::ShiftModifier, {"message"}, {}},
        {Qt::Key_B, ctrl, {"about"}, {}},
        {Qt::Key_P, ctrl | Qt::AltModifier, {"port setup"}, {}},
        {Qt::Key_Escape, Qt::NoModifier, {}, {}},
        {Qt::Key_S, Qt::NoModifier, {}, {}},
        {Qt::Key_N, ctrl, {}, {rs::sDisconnected}},
        {Qt::Key_N, ctrl, {}, {rs::sComPortOpened, rs::sConnecting}},
    };
    for (const Case &c : cases) {
        // The thread checker stops a many-threaded process whose forked
        // child runs code before its exec, as the one Qt starts for the
        // opener does; the other builds check Help.
        if (c.key == Qt::Key_F1 && kThreadChecked)
            continue;
        const std::size_t asked = dialogs.requests.size();
        const qsizetype lines = w.LogModel().Count();
        Press(w, c.key, c.mods);
        ASSERT_TRUE(RunUntil([] { return PendingDocumentLaunches() == 0; }));
        QStringList boxes;
        for (std::size_t i = asked; i < dialogs.requests.size(); ++i)
            boxes << (dialogs.requests[i].kind == "question" ? dialogs.requests[i].text : dialogs.requests[i].kind);
        const std::string name = QKeySequence(c.key | c.mods).toString().toStdString();
        EXPECT_EQ(boxes, c.boxes) << name;
        EXPECT_EQ(MessagesFrom(w, lines), c.logged) << name;
    }
    EXPECT_TRUE(w.isVisible());

    Press(w, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(Ui(w).pgMain->currentWidget(), Ui(w).tabLog);
    Press(w, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(Ui(w).pgMain->currentWidget(), Ui(w).tabControl);
    const int lines = Lines(w.LogText()).size();
    Press(w, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(w.LogModel().ShowMilliseconds);
    EXPECT_EQ(Lines(w.LogText()).size(), lines);

    // Clear Log: one question, and the view restarts.
    dialogs.requests.clear();
    Press(w, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(dialogs.Texts(), QStringList{"Save the Log?"});
    EXPECT_EQ(Lines(w.LogText()).size(), 8);
    EXPECT_TRUE(Lines(w.LogText()).last().endsWith(kIndent + rs::sLogCleared));
}

TEST_F(MainWindow, ShortcutsAlsoWorkFromAFocusedControl)
{
    ConnectThrough(w, pty);
    w.show();
    w.activateWindow();
    Channel(w, 1).SetPointEdit->setFocus();
    const qsizetype lines = w.LogModel().Count();
    Press(w, Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(MessagesFrom(w, lines), QStringList{"Manual - R2 - ON"});
}

TEST_F(MainWindow, CtrlQClosesThroughTheCloseSequence)
{
    w.show();
    Press(w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(dialogs.Texts(), QStringList{"Save the Log?"});
}

TEST_F(MainWindow, CloseWhileDisconnectedAsksOnlyToSaveAndOnlyWhileLogging)
{
    EXPECT_TRUE(w.close());
    EXPECT_EQ(dialogs.Texts(), QStringList{"Save the Log?"});
    dialogs.requests.clear();
    w.show();
    Ui(w).chkLog->setChecked(false);
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(dialogs.requests.empty());
}

TEST_F(MainWindow, DecliningToDisconnectKeepsTheWindowAndAsksNothingMore)
{
    ConnectThrough(w, pty);
    w.show();
    dialogs.answers = {false};
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(dialogs.requests[0].icon, DialogIcon::Warning);
    EXPECT_EQ(dialogs.requests[0].text, DisconnectQuestion());
    EXPECT_TRUE(w.PortIsOpen());
}

TEST_F(MainWindow, AgreeingToDisconnectClosesThePortBeforeTheSaveQuestion)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("exit.log"));
    ConnectThrough(w, pty);
    w.show();
    dialogs.answers = {true, true};
    dialogs.saveAnswers = {path};
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.PortIsOpen());
    EXPECT_EQ(dialogs.Kinds(), (QStringList{"question", "question", "save"}));
    EXPECT_EQ(dialogs.Texts().mid(0, 2), (QStringList{DisconnectQuestion(), "Save the Log?"}));
    // The saved log already ends with the disconnect.
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(Messages(QString::fromUtf8(saved.readAll()).remove(u'\r'), kIndent).last(), rs::sDisconnected);
}

TEST_F(MainWindow, AFailedSaveEndsTheCloseAttempt)
{
    QTemporaryDir folder;
    w.show();
    dialogs.answers = {true};
    dialogs.saveAnswers = {folder.path()}; // a folder: the write fails
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(dialogs.Kinds(), (QStringList{"question", "save", "error"}));
}

TEST_F(MainWindow, HandleAppExceptionLogsAndShowsTheErrorBox)
{
    SetApplicationTitle(QStringLiteral("Q274 Temperature Controller Standard"));
    w.HandleAppException(std::runtime_error("Port busy"));
    EXPECT_TRUE(Lines(w.LogText()).last().endsWith(kIndent + QStringLiteral("Application ERROR: Port busy")));
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, QStringLiteral("error"));
    EXPECT_EQ(dialogs.requests[0].title, QStringLiteral("Q274 Temperature Controller Standard"));
    EXPECT_EQ(dialogs.requests[0].text, QStringLiteral("Port busy."));

    w.HandleAppException(std::runtime_error("quiet"), false);
    EXPECT_EQ(dialogs.requests.size(), 1u);
    Ui(w).chkLog->setChecked(false);
    w.HandleAppException(std::runtime_error("Done."));
    EXPECT_FALSE(Lines(w.LogText()).last().contains(QStringLiteral("Done")));
    EXPECT_EQ(dialogs.requests.back().text, QStringLiteral("Done."));
}

TEST_F(MainWindow, ErrorsFromHandlersAndPostedCallsReachTheHandler)
{
    QTemporaryDir folder;
    w.Connection()->ComPort()->SetPort(folder.filePath(QStringLiteral("no-such-port")));
    Ui(w).btnConn->click();
    const QString message = EComPort(CError_OpenFailed, ENOENT).Message();
    // The error line, then the device and what to do.
    const QStringList lines = Lines(w.LogText());
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[lines.size() - 2].endsWith(QStringLiteral("Application ERROR: ") + message));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("no-such-port: No such file or directory \u2014 is the board plugged in?")))
        << lines.last().toStdString();
    EXPECT_EQ(dialogs.Kinds(), QStringList{"error"});
    EXPECT_EQ(dialogs.requests.back().text, message); // ends with ")": no full stop added

    UiSync::Post([] { throw std::runtime_error("posted failure"); });
    UiSync::ProcessPending();
    EXPECT_TRUE(Lines(w.LogText()).last().endsWith(QStringLiteral("Application ERROR: posted failure")));
}

// Real modal boxes, each closed with Esc as a user would: every shortcut that
// opens one must open it once, whatever focus the box leaves behind.
TEST(MainWindowModal, ShortcutsThatOpenAModalBoxActOnce)
{
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    {
        TdmQ274 dm;
        dm.ComPort()->SetPort(home.filePath(QStringLiteral("no-such-port")));
        TfrmMain w(&dm);
        w.show();
        int boxes = 0;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (QWidget *box = QApplication::activeModalWidget(); box && box->isVisible()) {
                ++boxes;
                QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
            }
        });
        closer.start(10);
        InstallSetupDialog({});
        // Ctrl+N: the port cannot open, so the error box.
        for (Qt::Key key : {Qt::Key_B, Qt::Key_S, Qt::Key_R, Qt::Key_P, Qt::Key_N}) {
            boxes = 0;
            w.activateWindow();
            Press(w, key, Qt::ControlModifier); // returns once every box it opened is closed
            EXPECT_EQ(boxes, 1) << QKeySequence(key).toString().toStdString();
        }
        EXPECT_EQ(Lines(w.LogText()).filter(QStringLiteral("Log contents have been cleared")).size(), 1);
    }
    qputenv("HOME", oldHome);
}

// A dark desktop theme must not reach the layout's fixed beige colours, and
// every window and page uses the one font fallback.
TEST(MainWindowLook, DarkThemeAndFontFallbackStayOutOfTheLayout)
{
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const QPalette desktop = QApplication::palette();
    const QFont desktopFont = QApplication::font();
    QApplication::setPalette(QPalette(QColor(40, 40, 40))); // light text on dark grey
    {
        // The application's look is the start-up's to set: a second window,
        // or a test's, must not restyle everything else.
        TfrmMain w;
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(40, 40, 40));
        EXPECT_EQ(QApplication::font(), desktopFont);
    }
    SetApplicationLook();
    {
        TfrmMain w;
        TfrmAbout about;
        const QString family = QFontInfo(LayoutFont(12)).family();
        for (QWidget *top : {static_cast<QWidget *>(&w), static_cast<QWidget *>(&about)}) {
            for (QWidget *c : top->findChildren<QWidget *>()) {
                if (!qobject_cast<QLabel *>(c) && !qobject_cast<QAbstractButton *>(c) && !qobject_cast<QGroupBox *>(c))
                    continue;
                const QColor text = c->palette().color(c->foregroundRole());
                EXPECT_LE(qGray(text.rgb()), 140) << c->objectName().toStdString();
                EXPECT_EQ(QFontInfo(c->font()).family(), family) << c->objectName().toStdString();
            }
        }
        EXPECT_EQ(QFontInfo(Ui(w).pgMain->tabBar()->font()).family(), family);
        EXPECT_EQ(about.Label1->palette().color(QPalette::Window), QColor(221, 219, 213));
    }
    QApplication::setPalette(desktop);
    QApplication::setFont(desktopFont);
    qputenv("HOME", oldHome);
}
