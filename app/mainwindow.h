// The main window: button column, read-out strip, the Control page with the
// four channel panels and the Log page with the log view; its keyboard
// shortcuts, the close sequence and the application-wide error handler.
//
// The connection, polling, thermostat and log-file pieces plug in through the
// entry points below (PortIsOpen, ClosePortForExit, AskSaveLog and the
// button handlers), which the buttons, the shortcuts and the close sequence
// call.
#pragma once

#include "channelpanel.h"
#include "channels.h"
#include "controls.h"
#include "datalines.h"
#include "dmq274.h"
#include "journal.h"
#include "logmodel.h"
#include "logview.h"
#include "mqttlink.h"
#include "profile.h"
#include "reconnect.h"
#include "samplerecorder.h"
#include "alarms.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace q274 {

class TAlarmActions;
class TAlarmsPage;
class TBrokerBox;
class TChartPage;

class TfrmMain : public QWidget, public TdmQ274Host {
    Q_OBJECT
public:
    // The window talks to the board through dm (created before the window,
    // outliving it); without one it makes and owns its own.
    explicit TfrmMain(TdmQ274 *dm = nullptr, QWidget *parent = nullptr);
    ~TfrmMain() override;

    static constexpr int kClientWidth = 852;
    static constexpr int kClientHeight = 523;

    enum class RelayFill { Unknown, On, Off }; // silver, red, background

    // --- What the window owns (objects with their own interfaces) ---
    TdmQ274 *Connection() const { return dmQ274; }
    TChannels &ChannelState() { return Channels; }
    TSampleRecorder &History() { return Recorder; }
    // The log's lines, filter, timestamps and autosave; memLog shows it.
    TLogModel &LogModel() { return Log; }
    // Shows the Log page (a start-up option).
    void ShowLogPage();
    // Shows the Chart page with these log files opened beside the live run.
    void OpenLogs(const QStringList &paths);

    // --- Settings taken at creation; tests and the regional settings change them ---
    QLocale LocaleInUse() const { return Locale; }
    void SetLocale(const QLocale &locale) { Locale = locale; }
    QString DecimalSeparatorInUse() const { return DecimalSeparatorText; }
    void SetDecimalSeparator(const QString &separator) { DecimalSeparatorText = separator; }
    QString LogFolderInUse() const { return LogFolder; }
    void SetLogFolder(const QString &folder) { LogFolder = folder; }
    bool UsesFahrenheit() const { return UseFahrenheit; }
    bool IsFirstSamplePending() const { return FirstSamplePending; }
    void SetFirstSamplePending(bool pending) { FirstSamplePending = pending; }
    int DataLineIntervalMs() const { return DataLineInterval; }
    void SetDataLineInterval(int ms) { DataLineInterval = ms; }
    // The wall-clock millisecond data lines aim at.
    int ReferenceMs() const { return ReferenceMillisecond; }
    // The clock of the autosave interval; empty: the system clock.
    void SetAutosaveClock(std::function<QDateTime()> clock) { AutosaveClock = std::move(clock); }

    // --- Window operations ---
    void ApplyCaptions();
    void ApplySettings();
    void ShowEnabledChannels();
    void SetAutosaveInterval(const QString &name);
    void SetRelayIndicator(int channel, RelayFill fill);
    void ClearReadouts();
    void ColourReadouts(bool portOpen);

    // --- Connection (TdmQ274Host) ---
    void ShowConnected() override;
    void ShowDisconnected() override;
    void BoardIdentified() override;

    // --- Read-outs and channel control ---
    void HandleTemperatureReply(const QString &line) override;
    void ShowAllTemperatures(const QString &line);
    void ShowChannelTemperature(int channel, const QString &value);
    void RunChannelControl();
    void ShowRelayStatus(const QString &statusText) override;

    // --- Data lines (log-file side) ---
    void StartDataLogging();
    void StopDataLogging();
    void LogTemperatures();
    // The worker pacing the data lines (created on first use).
    DataLineWorker &DataLines();
    // Clocks for the worker and the hold before the first line; only while
    // no worker runs. Empty members: the system's.
    void SetDataLineClocks(DataLineClocks clocks);

    // --- Log files and autosave ---
    // newFile: a new file, path or path with "-2", ... when taken (the
    // autosave's); else path is replaced (a name the user chose).
    void SaveLogAndClear(const QString &path, bool newFile = false);
    QString SaveLogFile(const QString &path, bool newFile);
    // The end a shutdown, a logout or Ctrl+C asks for: no questions; the
    // port closes as on Disconnect, a kept log is saved as the autosave
    // saves it, and the journal goes only once that save worked.
    void QuietEnd();
    void CheckAutosave();
    QDateTime AutosaveNow() const;

    // --- Log view ---
    // Keeps a journal of the log in folder from now on, after saving the
    // journals of programs that ended without a normal exit into the log
    // folder. A normal end of the window removes the journal.
    void StartJournal(const QString &folder);
    const TJournal *Journal() const { return FJournal.get(); }
    // Waits until the journals of ended sessions are saved (their log lines
    // follow through the event loop).
    void WaitForRecovery()
    {
        if (FRecovery.joinable())
            FRecovery.join();
    }
    // How long after a line the journal goes to the disk (set before
    // StartJournal; tests shorten it).
    void SetJournalSyncInterval(int ms) { FJournalSyncMs = ms; }
    void LogMessage(const QString &text) override;
    void ShowLogBanner();
    void LogLoggingState();
    // Appends one line as it stands, whatever the logging state (the blank
    // separator line after a disconnect).
    void AppendLogLine(const QString &line);
    // The view's text with CR LF after every line, as it is saved.
    QString LogText() const;

    // --- Handlers ---
    void cmbDegChange();
    void chkLogClick();
    void btnClearLogClick();
    // Runs the shortcut for this key, if any; returns whether one ran.
    // The key is never consumed.
    bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0);

    // Logs the error and (when showBox) shows it in the error box.
    void HandleAppException(const std::exception &error, bool showBox = true);

    // --- Entry points wired by the connection and log-file code ---
    bool PortIsOpen() const;
    void ClosePortForExit();
    void AskSaveLog();
    void btnConnClick();
    void btnCOMClick();
    void btnHelpClick();
    void btnAboutClick();
    void btnLogSaveClick();
    void btnR1Click(int channel);

    // --- Unattended operation (mainwindow_unattended.cpp) ---
    // Makes path the run's profile: a profile there is applied, a missing
    // one is created from the window's settings; every later change is
    // written back. A refused file is reported, left as it is and not used.
    bool UseProfile(const QString &path);
    // After the window is up: connects when the profile says so.
    void StartUnattended();
    QString ProfilePath() const { return FProfilePath; }
    // The run's settings as a profile would hold them.
    Profile CurrentProfile() const;
    MqttSettings MqttSettingsInUse() const { return FMqtt; }
    // Broker settings changed in the window; written back to the profile.
    void SetMqttSettings(const MqttSettings &settings);
    TAlarmMonitor &AlarmMonitor() { return FAlarms; }
    TAlarmActions &AlarmActions() { return *FAlarmActions; }
    TReconnector &Reconnector() { return *FReconnector; }
    TAlarmsPage *AlarmsPage() const { return FAlarmsPage; }
    // The steady clock of the alarms, in ms; empty: the program's own.
    void SetAlarmClock(std::function<qint64()> clock) { FAlarmClock = std::move(clock); }
    void EvaluateAlarms();
    void AcknowledgeAlarms();
    void OpenProfileClick();
    void SaveProfileAsClick();

    // --- Publishing to an MQTT broker (mainwindow_mqtt.cpp) ---
    TMqttLink &MqttLink() { return *FMqttLink; }
    TBrokerBox *BrokerBox() const { return FBrokerBox; }

signals:
    void MqttSettingsChanged(const q274::MqttSettings &settings);
    void AlarmChanged(const q274::AlarmEvent &event);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TdmQ274 *dmQ274;

    // --- Controls (objectName = member name) ---
    QFrame *bvlTop;
    QWidget *pnlButtons;
    QLabel *lblTDisplay;
    QComboBox *cmbDeg;
    QPushButton *btnCOM;
    QLabel *lblLogEnable;
    QCheckBox *chkLog;
    QLabel *lblSaveCount;
    QFrame *bvlButtons;
    QPushButton *btnClearLog, *btnLogSave, *btnHelp, *btnAbout, *btnConn;

    QWidget *pnlReadouts;
    QGroupBox *gbCh1, *gbCh2, *gbCh3, *gbCh4;
    QLabel *lblCh1, *lblCh2, *lblCh3, *lblCh4;
    TShape *shp1, *shp2, *shp3, *shp4;

    TPageControl *pgMain;
    QWidget *tabControl, *tabLog, *tabChart;
    TChartPage *Chart = nullptr;

    QFrame *pnlLog;
    TLogView *memLog;

    // --- Start-up state, reset at window creation ---
    QString MessageIndent;
    QLocale Locale; // the user's regional settings
    QString DecimalSeparatorText;
    QString DateSeparatorText;
    bool FirstSamplePending = false;
    bool UseFahrenheit = false;
    QString LogFolder;
    // Settings, read-out values and relay flags of the four channels.
    TChannels Channels;
    // Every reading and relay state while connected, for the Chart page.
    TSampleRecorder Recorder;
    int DataLineInterval = DataLineWorker::kDefaultInterval; // ms

    int ReferenceMillisecond = 0; // the wall-clock millisecond data lines aim at
    // The clock of the autosave interval; empty: the system clock.
    std::function<QDateTime()> AutosaveClock;
    TLogModel Log;

    // The four "Relay Control" panels, the read-outs and the lamps (1..4).
    TChannelPanel &Panel(int channel) const;
    QLabel *Readout(int channel) const;
    TShape *Indicator(int channel) const;
    QCheckBox *EnableBox(int channel) const;

    // Shows one value on a read-out; false (and " -" shown) when it cannot be read.
    // time: when the reply came, for the chart's history.
    bool ShowReadout(int channel, const QString &value, const QString &noSensor, qint64 time);
    // The read-out's text and, with its unit, the name a screen reader reads.
    void ShowReadoutText(int channel);
    void RunChannelControl(bool &dataErrorLogged);
    void LogDataErrorOnce(bool &logged);

    void BuildLayout();
    void BuildButtonColumn();
    void BuildReadoutStrip();
    void BuildControlPage();
    void BuildLogPage();
    void BuildChartPage();
    // Makes memLog show what the log model holds.
    void FollowLog();
    void FormCreate();
    void FormShow();
    // Runs a handler; an error goes to HandleAppException.
    void Guarded(const std::function<void()> &fn);

    bool FShown = false;

    // F6 lends the keyboard to the log view, which Tab never reaches; Esc
    // gives it back to the page and control that had it.
    void FocusLogView();
    void LeaveLogView();
    QPointer<QWidget> FFocusBeforeLog;
    QPointer<QWidget> FPageBeforeLog;

    // Runs on the UI thread for each line the worker hands over.
    void DataLineDue();
    void DataLineFailed(std::exception_ptr error);
    // Stops the worker and waits for it, running its hand-offs meanwhile.
    void EndDataLineWorker();
    bool FDataLogging = false; // between StartDataLogging and the stop
    DataLineClocks FDataLineClocks;
    std::unique_ptr<DataLineWorker> FDataLineWorker;
    std::array<std::unique_ptr<TChannelPanel>, 4> FPanels;
    std::unique_ptr<TJournal> FJournal;
    bool FKeepJournal = false; // the quiet end could not save the log
    bool FJournalBroken = false;   // no writing until a restart works
    bool FJournalReported = false; // its failure was logged once
    QTimer *FJournalSync = nullptr;
    int FJournalSyncMs = 1000;
    QTimer *FRepeatFlush = nullptr;
    void JournalAppend(const QString &line);
    void JournalRestart();
    void JournalSyncDue();
    void JournalFailed(const std::exception &error);
    void RecoverJournalsLater(const QString &folder);
    std::thread FRecovery; // saving the journals of ended sessions
    std::unique_ptr<TdmQ274> FOwnedDm;

    // --- Unattended operation ---
    void BuildAlarmsPage();
    void ApplyProfile(const Profile &profile);
    void ProfileChanged();
    void AlarmSettingsChanged();
    void ShowAlarms();
    void AnnounceAlarm(const AlarmEvent &event);
    void UnattendedConnected();
    void UnattendedDisconnected();
    void UnattendedIdentified();
    void AlarmReading(int channel);
    void LinkAlive();
    qint64 AlarmNow() const;
    // The user ends the connection: no more attempts; with the safe state,
    // the thermostat's relays go off (each command answered) before the close.
    void UserDisconnect();
    bool SwitchOffControlledRelays();
    QWidget *tabAlarms = nullptr;
    TAlarmsPage *FAlarmsPage = nullptr;
    QString FProfilePath;
    Profile FProfile; // what the file holds beyond the window's own settings
    bool FApplyingProfile = false;
    bool FProfileWriteReported = false;
    MqttSettings FMqtt;
    TAlarmMonitor FAlarms;
    TAlarmActions *FAlarmActions = nullptr;
    TReconnector *FReconnector = nullptr;
    QTimer *FAlarmTick = nullptr;
    QElapsedTimer FAlarmClockStart;
    std::function<qint64()> FAlarmClock;
    bool FUserClosing = false;

    // --- MQTT ---
    void MakeMqttLink();
    void BuildBrokerBox();
    void ApplyMqtt(const MqttSettings &settings);
    void PublishSettings();
    void PublishRelays();
    std::unique_ptr<TMqttLink> FMqttLink;
    TBrokerBox *FBrokerBox = nullptr;
};

} // namespace q274
