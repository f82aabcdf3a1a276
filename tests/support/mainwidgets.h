// The main window's widgets for the tests, found by their object names the
// way automation finds them in the running program.
#pragma once

#include "chartpage.h"
#include "controls.h"
#include "logview.h"
#include "mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <stdexcept>
#include <string>

namespace q274test {

template <class T> T *Named(const QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        throw std::logic_error(std::string("no widget named ") + name);
    return found;
}

struct MainWidgets {
    explicit MainWidgets(const QWidget &w)
        : cmbDeg(Named<QComboBox>(w, "cmbDeg")), btnCOM(Named<QPushButton>(w, "btnCOM")),
          lblTDisplay(Named<QLabel>(w, "lblTDisplay")), lblLogEnable(Named<QLabel>(w, "lblLogEnable")),
          chkLog(Named<QCheckBox>(w, "chkLog")), lblSaveCount(Named<QLabel>(w, "lblSaveCount")),
          btnClearLog(Named<QPushButton>(w, "btnClearLog")), btnLogSave(Named<QPushButton>(w, "btnLogSave")),
          btnHelp(Named<QPushButton>(w, "btnHelp")), btnAbout(Named<QPushButton>(w, "btnAbout")),
          btnConn(Named<QPushButton>(w, "btnConn")), pnlButtons(Named<QWidget>(w, "pnlButtons")),
          pnlReadouts(Named<QWidget>(w, "pnlReadouts")), gbCh1(Named<QGroupBox>(w, "gbCh1")),
          gbCh2(Named<QGroupBox>(w, "gbCh2")), gbCh3(Named<QGroupBox>(w, "gbCh3")), gbCh4(Named<QGroupBox>(w, "gbCh4")),
          lblCh1(Named<QLabel>(w, "lblCh1")), lblCh2(Named<QLabel>(w, "lblCh2")), lblCh3(Named<QLabel>(w, "lblCh3")),
          lblCh4(Named<QLabel>(w, "lblCh4")), shp1(Named<q274::TShape>(w, "shp1")),
          shp2(Named<q274::TShape>(w, "shp2")), shp3(Named<q274::TShape>(w, "shp3")),
          shp4(Named<q274::TShape>(w, "shp4")), pgMain(Named<q274::TPageControl>(w, "pgMain")),
          tabControl(Named<QWidget>(w, "tabControl")), tabLog(Named<QWidget>(w, "tabLog")),
          tabChart(Named<QWidget>(w, "tabChart")), Chart(Named<q274::TChartPage>(w, "pnlChart")),
          memLog(Named<q274::TLogView>(w, "memLog"))
    {
    }
    QComboBox *cmbDeg;
    QPushButton *btnCOM;
    QLabel *lblTDisplay, *lblLogEnable;
    QCheckBox *chkLog;
    QLabel *lblSaveCount;
    QPushButton *btnClearLog, *btnLogSave, *btnHelp, *btnAbout, *btnConn;
    QWidget *pnlButtons, *pnlReadouts;
    QGroupBox *gbCh1, *gbCh2, *gbCh3, *gbCh4;
    QLabel *lblCh1, *lblCh2, *lblCh3, *lblCh4;
    q274::TShape *shp1, *shp2, *shp3, *shp4;
    q274::TPageControl *pgMain;
    QWidget *tabControl, *tabLog, *tabChart;
    q274::TChartPage *Chart;
    q274::TLogView *memLog;
};

inline MainWidgets Ui(const QWidget &window) { return MainWidgets(window); }

// One channel's controls (1..4): its "Relay Control" panel, read-out and
// lamp, found by name as automation finds them. The spinners keep names of
// their own, not numbered by panel; channel 2's set point is "edtSp2".
struct ChannelWidgets {
    ChannelWidgets(const QWidget &w, int ch)
        : Box(Find<QGroupBox>(w, "gbRC", ch)), EnableBox(Find<QCheckBox>(w, "chkEnable", ch)),
          SetPointEdit(Find<QLineEdit>(w, ch == 2 ? "edtSp" : "edtSP", ch)),
          SetPointSpinner(Named<q274::TUpDown>(w, kSetPointSpinners[ch - 1])),
          SetPointLabel(Find<QLabel>(w, "lblSP", ch)), DropoutEdit(Find<QLineEdit>(w, "edtDrop", ch)),
          DropoutSpinner(Named<q274::TUpDown>(w, kDropoutSpinners[ch - 1])),
          DropoutLabel(Find<QLabel>(w, "lblDrop", ch)), ModeList(Find<QComboBox>(w, "cmbMode", ch)),
          ModeLabel(Find<QLabel>(w, "lblMode", ch)), OverrideLabel(Find<QLabel>(w, "lblMan", ch)),
          OverrideBox(Find<QCheckBox>(w, "chkM", ch)), RelayButton(Find<QPushButton>(w, "btnR", ch)),
          Readout(Find<QLabel>(w, "lblCh", ch)), Indicator(Find<q274::TShape>(w, "shp", ch))
    {
    }
    QGroupBox *Box;
    QCheckBox *EnableBox;
    QLineEdit *SetPointEdit;
    q274::TUpDown *SetPointSpinner;
    QLabel *SetPointLabel;
    QLineEdit *DropoutEdit;
    q274::TUpDown *DropoutSpinner;
    QLabel *DropoutLabel;
    QComboBox *ModeList;
    QLabel *ModeLabel, *OverrideLabel;
    QCheckBox *OverrideBox;
    QPushButton *RelayButton;
    QLabel *Readout;
    q274::TShape *Indicator;

private:
    static constexpr const char *kSetPointSpinners[] = {"UpDown1", "UpDown7", "UpDown5", "UpDown3"};
    static constexpr const char *kDropoutSpinners[] = {"UpDown2", "UpDown8", "UpDown6", "UpDown4"};
    template <class T> static T *Find(const QWidget &w, const char *base, int ch)
    {
        return Named<T>(w, (base + std::to_string(ch)).c_str());
    }
};

inline ChannelWidgets Channel(const QWidget &window, int channel) { return ChannelWidgets(window, channel); }

} // namespace q274test
