// The main window's log side: the log view with its banner, logging switch
// and Clear Log; the data lines (the first line of a connection and the
// worker that paces the rest); saving the view by hand, on Clear Log, at exit
// and every autosave interval; F6 into the view and Esc out of it.
#include "mainwindow.h"

#include "dialogs.h"
#include "logfiles.h"
#include "protocol.h"
#include "recovery.h"
#include "rstrings.h"
#include "shellrules.h"
#include "storeditems.h"
#include "timestamp.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

#include <stdexcept>

namespace q274 {

// ---------------------------------------------------------------- data lines

void TfrmMain::SetDataLineClocks(DataLineClocks clocks)
{
    // The worker reads its clocks without locks, so they change only while
    // no worker thread exists.
    if (FDataLineWorker && FDataLineWorker->Running())
        throw std::logic_error("The data-line clocks cannot change while the worker runs");
    FDataLineWorker.reset();
    FDataLineClocks = std::move(clocks);
}

DataLineWorker &TfrmMain::DataLines()
{
    if (!FDataLineWorker) {
        DataLineClocks clocks = SystemClocks();
        if (FDataLineClocks.TickCount)
            clocks.TickCount = FDataLineClocks.TickCount;
        if (FDataLineClocks.WallMillisecond)
            clocks.WallMillisecond = FDataLineClocks.WallMillisecond;
        if (FDataLineClocks.Sleep)
            clocks.Sleep = FDataLineClocks.Sleep;
        FDataLineWorker = std::make_unique<DataLineWorker>(
            [this] { DataLineDue(); }, [this](std::exception_ptr error) { DataLineFailed(error); }, std::move(clocks));
    }
    return *FDataLineWorker;
}

void TfrmMain::StartDataLogging()
{
    dmQ274->Poller().FirstReadingShown();

    DataLineWorker &worker = DataLines();
    worker.SetDataLineInterval(DataLineInterval);
    // Holds this thread (reading the wall clock first) so that the first
    // line, and with it the reference, falls after the 125 ms mark.
    worker.AlignFirstLine();
    ReferenceMillisecond = DataLineWorker::kAlignedMillisecond;
    worker.SetReferenceMillisecond(ReferenceMillisecond);
    if (Log.ShowMilliseconds)
        LogMessage(MessageIndent + QStringLiteral("RefMS:  ") + QString::number(ReferenceMillisecond));
    worker.TakeReferenceTick();

    worker.SetFirstSamplePending(false);
    // A worker stopped at the last disconnect may still be ending; its last
    // hand-off must find logging off.
    worker.Start();
    FDataLogging = true;

    // The first line goes out before the pending mark is cleared; a failure
    // in it must not leave the mark set for the rest of the connection.
    auto cleared = qScopeGuard([this] { FirstSamplePending = false; });
    LogTemperatures();
}

void TfrmMain::StopDataLogging()
{
    // Checked on this thread before every line, so even a line the worker
    // handed over just before the stop is not written.
    FDataLogging = false;
    if (FDataLineWorker)
        FDataLineWorker->Stop();
}

void TfrmMain::EndDataLineWorker()
{
    FDataLogging = false;
    if (!FDataLineWorker)
        return;
    FDataLineWorker->Stop();
    FDataLineWorker->WaitStopped(); // runs the worker's hand-offs meanwhile
    FDataLineWorker.reset();
}

void TfrmMain::DataLineDue()
{
    if (!FDataLogging || FirstSamplePending)
        return;
    // The interval may be set anew on this thread while the worker runs; the
    // worker reads its own copy.
    if (FDataLineWorker)
        FDataLineWorker->SetDataLineInterval(DataLineInterval);
    LogTemperatures();
}

void TfrmMain::DataLineFailed(std::exception_ptr error)
{
    // Reported as a log line only: an unattended run must not pile up error
    // boxes once a minute. The worker goes on pacing.
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        HandleAppException(e, false);
    } catch (...) {
        HandleAppException(std::runtime_error("Unknown error"), false);
    }
}

void TfrmMain::LogTemperatures()
{
    std::exception_ptr lineError;
    try {
        if (PortIsOpen()) {
            LogMessage(ComposeDataFields(
                {Channels.Readout(1), Channels.Readout(2), Channels.Readout(3), Channels.Readout(4)}));
            FMqttLink->DataLine(QDateTime::currentDateTime());
        }
    } catch (...) {
        lineError = std::current_exception();
    }
    // The autosave check runs whatever became of the line.
    if (chkLog->isChecked())
        CheckAutosave();
    if (lineError)
        std::rethrow_exception(lineError);
}

// ---------------------------------------------------------------- log view

void TfrmMain::AppendLogLine(const QString &line) { Log.AppendLine(line); }

void TfrmMain::FollowLog()
{
    Log.RepeatLimited = q274::MessageIndent + kDataErrorText;
    // Repeats of a flooding message held back are counted a second later.
    FRepeatFlush = new QTimer(this);
    FRepeatFlush->setSingleShot(true);
    FRepeatFlush->setInterval(1000);
    connect(FRepeatFlush, &QTimer::timeout, this, [this] {
        if (const int wait = Log.FlushRepeats())
            FRepeatFlush->start(wait);
    });

    // Appending always goes to the end of the whole text, wherever the user
    // put the caret.
    Log.OnAppend = [this](const QString &line) {
        JournalAppend(line);
        memLog->AppendLine(line);
    };
    Log.OnRestart = [this] {
        JournalRestart();
        const QStringList lines = Log.Lines(); // the banner
        memLog->Restart(lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    };
}

void TfrmMain::LogMessage(const QString &text)
{
    Log.Enabled = chkLog->isChecked();
    Log.Locale = Locale; // tests and the regional settings may change it
    const bool held = !Log.LogMessage(text) && Log.RepeatsPending() > 0;
    if (held && !FRepeatFlush->isActive())
        FRepeatFlush->start();
}

QString TfrmMain::LogText() const { return Log.Text(); }

void TfrmMain::ShowLogBanner()
{
    memLog->setUpdatesEnabled(false);
    auto resume = qScopeGuard([this] { memLog->setUpdatesEnabled(true); });

    // The first line of the title item is the window's caption.
    const QString caption = LoadStoredItem(QStringLiteral("a2")).value(0);
    setWindowTitle(caption);
    SetApplicationTitle(caption);
    Log.Restart(LoadStoredItem(QStringLiteral("a1")), MessageIndent);

    resume.dismiss();
    memLog->setUpdatesEnabled(true);
    LogLoggingState();
}

void TfrmMain::LogLoggingState()
{
    if (chkLog->isChecked())
        LogMessage(MessageIndent + rs::sLoggingEnabledInDeg + QLatin1Char(' ') + cmbDeg->currentText());
    else
        LogMessage(MessageIndent + rs::sLoggingDisabled);
}

void TfrmMain::chkLogClick()
{
    LogLoggingState();
    ProfileChanged();
}

void TfrmMain::btnClearLogClick()
{
    // The user asked for the log to be kept: a failed save leaves the view as
    // it was and is reported as any failed save. No, or a cancelled dialog,
    // clears.
    if (chkLog->isChecked())
        AskSaveLog();
    ShowLogBanner();
    LogMessage(MessageIndent + rs::sLogCleared);
}

void TfrmMain::FocusLogView()
{
    if (!memLog->hasFocus()) {
        FFocusBeforeLog = QApplication::focusWidget();
        FPageBeforeLog = pgMain->currentWidget();
    }
    pgMain->setCurrentWidget(tabLog);
    memLog->setFocus(Qt::ShortcutFocusReason);
}

void TfrmMain::LeaveLogView()
{
    if (FPageBeforeLog)
        pgMain->setCurrentWidget(FPageBeforeLog);
    QWidget *back = FFocusBeforeLog && FFocusBeforeLog != memLog && FFocusBeforeLog->isVisible()
                        ? FFocusBeforeLog.data()
                        : btnConn;
    back->setFocus(Qt::ShortcutFocusReason);
}

// ---------------------------------------------------------------- journal

void TfrmMain::StartJournal(const QString &folder)
{
    FJournal = std::make_unique<TJournal>(folder, QCoreApplication::applicationPid());
    FJournalSync = new QTimer(this);
    FJournalSync->setSingleShot(true);
    // At most one trip to the disk a second: a power cut costs at most the
    // last second of the log.
    FJournalSync->setInterval(FJournalSyncMs);
    connect(FJournalSync, &QTimer::timeout, this, [this] { JournalSyncDue(); });
    JournalRestart();
    RecoverJournalsLater(folder);
}

void TfrmMain::JournalAppend(const QString &line)
{
    if (!FJournal)
        return;
    if (!FJournalBroken) {
        try {
            FJournal->Append(line);
        } catch (const std::exception &e) {
            JournalFailed(e);
        }
    }
    // A broken journal is tried again at the sync, too.
    if (!FJournalSync->isActive())
        FJournalSync->start();
}

void TfrmMain::JournalSyncDue()
{
    if (!FJournal)
        return;
    // After a failure (a full disk) a new journal takes every line the view
    // holds, so the lines the old one missed are on the disk again too.
    if (FJournalBroken) {
        JournalRestart();
        return;
    }
    try {
        FJournal->Sync();
    } catch (const std::exception &e) {
        JournalFailed(e);
    }
}

void TfrmMain::JournalRestart()
{
    if (!FJournal)
        return;
    // The view starts over only after its save worked, so the journal may too.
    try {
        FJournal->Restart(Log.Lines());
    } catch (const std::exception &e) {
        JournalFailed(e);
        return;
    }
    FJournalBroken = false;
    if (!FJournalReported)
        return;
    // The view may be starting over right now: the line follows it.
    FJournalReported = false;
    QMetaObject::invokeMethod(
        this, [this] { LogMessage(MessageIndent + QStringLiteral("The log journal works again.")); },
        Qt::QueuedConnection);
}

void TfrmMain::JournalFailed(const std::exception &error)
{
    // Logging goes on without the journal; one line says so, not one per line.
    FJournalBroken = true;
    if (FJournalReported)
        return;
    FJournalReported = true;
    HandleAppException(error, false);
}

void TfrmMain::RecoverJournalsLater(const QString &folder)
{
    // Off this thread: a folder of many or long journals must not hold the
    // window. The window waits for it only when it closes.
    FRecovery = std::thread([this, folder, logFolder = LogFolder, locale = Locale,
                             pid = QCoreApplication::applicationPid()] {
        const RecoveryReport report = RecoverJournals(folder, logFolder, locale, pid);
        if (report.Saved.isEmpty() && report.Errors.isEmpty())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, report] {
                for (const QString &path : report.Saved)
                    LogMessage(MessageIndent
                               + QStringLiteral("Log of an earlier session that ended unexpectedly saved as ") + path);
                for (const QString &error : report.Errors)
                    HandleAppException(LogFileError(error), false);
            },
            Qt::QueuedConnection);
    });
}

// ---------------------------------------------------------------- log files

QDateTime TfrmMain::AutosaveNow() const { return AutosaveClock ? AutosaveClock() : QDateTime::currentDateTime(); }

void TfrmMain::AskSaveLog()
{
    if (!CurrentDialogs().AskYesNo(this, QStringLiteral("Confirm"), QStringLiteral("Save the Log?"),
                                   DialogIcon::Question))
        return;

    // One reading of the clock for both parts of the name, so a save at
    // midnight cannot pair one day's date with the next day's time.
    const QDateTime now = QDateTime::currentDateTime();
    SaveFileRequest request;
    request.initialFolder = LogFolder;
    request.fileName = ManualLogName(now.date(), now.time(), Locale);
    request.defaultSuffix = QStringLiteral("log");
    request.filter = QStringLiteral("Log files (*.log)");
    const std::optional<QString> path = CurrentDialogs().AskSaveFileName(this, request);
    if (!path)
        return;
    SaveLogAndClear(*path);
}

QString TfrmMain::SaveLogFile(const QString &path, bool newFile)
{
    // The model holds the file's bytes as they are: a day's text need not be
    // built and encoded again.
    if (const std::optional<QByteArray> bytes = Log.FileBytes()) {
        if (newFile)
            return WriteNewLogFileBytes(path, *bytes);
        WriteLogFileBytes(path, *bytes);
    } else {
        if (newFile)
            return WriteNewLogFile(path, LogText());
        WriteLogFile(path, LogText());
    }
    return path;
}

void TfrmMain::SaveLogAndClear(const QString &path, bool newFile)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    memLog->setUpdatesEnabled(false);
    auto restore = qScopeGuard([this] {
        memLog->setUpdatesEnabled(true);
        QApplication::restoreOverrideCursor();
    });

    // Throws before anything in the view changes.
    SaveLogFile(path, newFile);
    ShowLogBanner();
    LogMessage(MessageIndent + rs::sLogSavedCleared);
}

void TfrmMain::CheckAutosave()
{
    const QDateTime now = AutosaveNow();
    if (!Log.AutosaveDue(now))
        return;
    // Counted and re-armed even when the save fails, so a broken folder is
    // retried after the next interval and not at every data line.
    auto count = qScopeGuard([this] {
        Log.AutosaveDone(AutosaveNow());
        lblSaveCount->setText(QString::number(Log.AutosaveCount));
    });
    // A name the program picked, which anyone who may write the folder can
    // foresee: always a new file, never through what is already there.
    SaveLogAndClear(AutosaveFileName(LogFolder, now.date(), now.time(), Locale), true);
}

void TfrmMain::QuietEnd()
{
    // Whoever ended the session is not there to answer.
    try {
        if (PortIsOpen())
            ClosePortForExit();
    } catch (const std::exception &e) {
        HandleAppException(e, false);
    }
    // As a close, which saves only a log being kept.
    if (!chkLog->isChecked())
        return;
    try {
        const QDateTime now = AutosaveNow();
        SaveLogFile(AutosaveFileName(LogFolder, now.date(), now.time(), Locale), true);
    } catch (const std::exception &e) {
        // The journal stays: the next start brings the log back.
        FKeepJournal = true;
        HandleAppException(e, false);
    }
}

} // namespace q274
