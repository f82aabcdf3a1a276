// The bound drop-down lists and the port setup dialog: items, selection from
// the port, pending values, the OK bracket and the error policy.
#include "comctl.h"
#include "portlist.h"
#include "setupdialog.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace q274;

namespace {

// Installs a port list and a dialog runner for one test.
struct Seams {
    explicit Seams(QStringList ports)
    {
        SetSerialPortLister([ports] { return ports; });
    }
    ~Seams()
    {
        SetSerialPortLister({});
        SetSetupDialogRunner({});
    }
    void Runner(std::function<int(TComSetupFrm &)> fn)
    {
        SetSetupDialogRunner([this, fn](QDialog &d) {
            ++runs;
            return fn(dynamic_cast<TComSetupFrm &>(d));
        });
    }
    int runs = 0;
};

// What a user does: pick an item of a list.
void Choose(QComboBox *list, const QString &text)
{
    const int i = list->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    list->setCurrentIndex(i);
    emit list->activated(i);
}

QWidget *NextTabStop(QWidget *w)
{
    do
        w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
}

struct Pty {
    int master = -1;
    QString slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { ::close(master); }
};

// Records device opens and closes and every line-settings apply that would
// reach the device.
class RecordingPort : public TComPort {
public:
    std::vector<std::string> log;
    int allApplies = 0;
    void OpenDevice() override
    {
        log.push_back("open " + Port().toStdString());
        TComPort::OpenDevice();
    }
    void CloseDevice() override
    {
        log.push_back("close");
        TComPort::CloseDevice();
    }
    void ApplyAllSettings() override
    {
        ++allApplies;
        TComPort::ApplyAllSettings();
    }
    void ApplyLineSettings() override
    {
        if (SettingsApplicable())
            log.push_back("line " + BaudRateToStr(BaudRate()).toStdString());
        TComPort::ApplyLineSettings();
    }
};

} // namespace

TEST(ComComboBox, ItemsForEachProperty)
{
    Seams seams({QStringLiteral("COM1"), QStringLiteral("COM10"), QStringLiteral("COM2")});
    TComComboBox combo;
    EXPECT_EQ(combo.ComProperty(), cpNone);
    EXPECT_EQ(combo.count(), 0);

    const std::vector<std::pair<TComProperty, QStringList>> expected = {
        {cpPort, {"COM1", "COM10", "COM2"}},
        {cpBaudRate,
         {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600",
          "115200", "128000", "256000"}},
        {cpDataBits, {"5", "6", "7", "8"}},
        {cpStopBits, {"1", "1.5", "2"}},
        {cpParity, {"None", "Odd", "Even", "Mark", "Space"}},
        {cpFlowControl, {"Hardware", "Software", "None", "Custom"}},
        {cpNone, {}},
    };
    for (const auto &[prop, items] : expected) {
        combo.SetComProperty(prop);
        QStringList shown;
        for (int i = 0; i < combo.count(); ++i)
            shown << combo.itemText(i);
        EXPECT_EQ(shown, items) << int(prop);
        // Without a port the first item is selected.
        EXPECT_EQ(combo.currentIndex(), items.isEmpty() ? -1 : 0) << int(prop);
    }
    EXPECT_TRUE(combo.Text().isEmpty());
}

TEST(ComComboBox, SelectsThePortsValueIgnoringCaseOrNothing)
{
    Seams seams({QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")});
    TComPort port;
    port.SetPort(QStringLiteral("TTYusb0"));
    port.SetBaudRate(br19200);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetBits(prMark);
    port.FlowControl().SetFlowControl(fcHardware);

    const std::vector<std::pair<TComProperty, QString>> expected = {
        {cpPort, "ttyUSB0"}, {cpBaudRate, "19200"}, {cpDataBits, "7"},
        {cpStopBits, "2"},   {cpParity, "Mark"},    {cpFlowControl, "Hardware"},
    };
    for (const auto &[prop, text] : expected) {
        TComComboBox combo;
        combo.SetComProperty(prop);
        combo.SetComPort(&port);
        EXPECT_EQ(combo.Text(), text) << int(prop);
    }

    TComComboBox portList;
    portList.SetComProperty(cpPort);
    portList.SetComPort(&port);
    // The item's own spelling becomes the pending name.
    EXPECT_EQ(portList.Select().Port, QStringLiteral("ttyUSB0"));

    port.SetPort(QStringLiteral("/dev/pts/7"));
    portList.UpdateSettings();
    EXPECT_EQ(portList.currentIndex(), -1);
    EXPECT_TRUE(portList.Text().isEmpty());
    EXPECT_EQ(portList.Select().Port, QStringLiteral("ttyUSB0")) << "pending value stays as it was";

    // Binding the port before the property: assigning the property fills from the port.
    TComComboBox baud;
    baud.SetComPort(&port);
    baud.SetComProperty(cpBaudRate);
    EXPECT_EQ(baud.Text(), QStringLiteral("19200"));
    EXPECT_EQ(baud.Select().BaudRate, br19200);
}

TEST(ComComboBox, PendingValuesAndFallbacks)
{
    TComSelect s;
    for (TComProperty p : {cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl, cpPort}) {
        s.ComProperty = p;
        s.SelectionChanged(QStringLiteral("no such value"));
    }
    EXPECT_EQ(s.BaudRate, br9600);
    EXPECT_EQ(s.DataBits, dbEight);
    EXPECT_EQ(s.StopBits, sbOneStopBit);
    EXPECT_EQ(s.ParityBits, prNone);
    EXPECT_EQ(s.FlowControl, fcCustom);
    EXPECT_EQ(s.Port, QStringLiteral("no such value"));

    s.ComProperty = cpBaudRate;
    s.SelectionChanged(QStringLiteral("custom"));
    EXPECT_EQ(s.BaudRate, brCustom);
    s.ComProperty = cpStopBits;
    s.SelectionChanged(QStringLiteral("1.5"));
    EXPECT_EQ(s.StopBits, sbOne5StopBits);
    s.ComProperty = cpParity;
    s.SelectionChanged(QStringLiteral("SPACE"));
    EXPECT_EQ(s.ParityBits, prSpace);
    s.Apply(); // no port bound: nothing happens
}

TEST(ComComboBox, UserChoiceAppliesOnlyWhenAskedOrWithAutoApply)
{
    TComPort port;
    TComComboBox parity;
    parity.SetComProperty(cpParity);
    parity.SetComPort(&port);
    EXPECT_EQ(parity.Text(), QStringLiteral("None"));

    Choose(&parity, QStringLiteral("Even"));
    EXPECT_EQ(parity.Select().ParityBits, prEven);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    parity.ApplySettings();
    EXPECT_EQ(port.Parity().Bits(), prEven);

    TComComboBox flow;
    flow.SetComProperty(cpFlowControl);
    flow.SetComPort(&port);
    flow.SetAutoApply(true);
    Choose(&flow, QStringLiteral("Software"));
    EXPECT_TRUE(port.FlowControl().XonXoffIn());
    EXPECT_TRUE(port.FlowControl().XonXoffOut());
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
}

TEST(ComComboBox, ForgetsADestroyedPort)
{
    auto port = std::make_unique<TComPort>();
    port->SetBaudRate(br57600);
    TComComboBox combo;
    combo.SetComProperty(cpBaudRate);
    combo.SetComPort(port.get());
    EXPECT_EQ(combo.Text(), QStringLiteral("57600"));

    port.reset();
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.currentIndex(), 0);
    combo.ApplySettings(); // must not touch the freed port

    // A list destroyed before its port leaves nothing behind to call it.
    TComPort other;
    {
        TComComboBox shortLived;
        shortLived.SetComProperty(cpDataBits);
        shortLived.SetComPort(&other);
    }
}

TEST(ComSetupFrm, LayoutTextsAndTabOrder)
{
    Seams seams({QStringLiteral("ttyS0")});
    TComSetupFrm frm;
    EXPECT_EQ(frm.windowTitle(), QStringLiteral("Configure COM Port"));
    EXPECT_EQ(frm.size(), QSize(292, 188));
    EXPECT_EQ(frm.GroupBox1->title(), QStringLiteral(" Settings "));
    EXPECT_EQ(frm.GroupBox1->geometry(), QRect(8, 16, 278, 136));
    EXPECT_EQ(frm.Label1->text(), QStringLiteral("Port"));
    EXPECT_EQ(frm.Label2->text(), QStringLiteral("Baud Rate"));
    EXPECT_EQ(frm.Label7->text(), QStringLiteral("Data Errors"));
    EXPECT_EQ(frm.Combo1->geometry(), QRect(84, 33, 182, 22));
    EXPECT_EQ(frm.Combo2->geometry(), QRect(84, 66, 182, 22));
    EXPECT_EQ(frm.cmbError->geometry(), QRect(84, 100, 182, 22));
    EXPECT_EQ(frm.Button1->geometry(), QRect(211, 159, 75, 23));
    // Whatever the font, no label runs into its list or out of the box.
    for (auto [label, list] : {std::pair<QWidget *, QWidget *>{frm.Label1, frm.Combo1},
                               {frm.Label2, frm.Combo2},
                               {frm.Label7, frm.cmbError}}) {
        EXPECT_LT(label->geometry().right() + 1, list->x()) << label->objectName().toStdString();
        EXPECT_GE(label->x(), 0);
    }
    EXPECT_EQ(frm.Button1->text(), QStringLiteral("OK"));
    EXPECT_TRUE(frm.Button1->isDefault());
    EXPECT_EQ(frm.Combo1->ComProperty(), cpPort);
    EXPECT_EQ(frm.Combo2->ComProperty(), cpBaudRate);
    EXPECT_EQ(frm.cmbError->currentText(), QStringLiteral("Stop on Errors"));
    EXPECT_EQ(frm.cmbError->count(), 3);
    EXPECT_EQ(NextTabStop(frm.Combo1), frm.Combo2);
    EXPECT_EQ(NextTabStop(frm.Combo2), frm.cmbError);
    EXPECT_EQ(NextTabStop(frm.cmbError), frm.Button1);
    EXPECT_EQ(NextTabStop(frm.Button1), frm.Combo1);
    EXPECT_EQ(frm.palette().color(QPalette::Window), QColor(221, 219, 213));
}

TEST(RunSetupDialog, OkWritesPortAndBaudRateCloseBoxWritesNothing)
{
    Seams seams({QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")});
    TComPort port;
    port.SetPort(QStringLiteral("ttyS0"));

    seams.Runner([](TComSetupFrm &d) {
        EXPECT_EQ(d.Combo1->Text(), QStringLiteral("ttyS0"));
        EXPECT_EQ(d.Combo2->Text(), QStringLiteral("9600"));
        Choose(d.Combo1, QStringLiteral("ttyUSB0"));
        Choose(d.Combo2, QStringLiteral("Custom"));
        return int(QDialog::Rejected);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.Port(), QStringLiteral("ttyS0"));
    EXPECT_EQ(port.BaudRate(), br9600);

    seams.Runner([](TComSetupFrm &d) {
        Choose(d.Combo1, QStringLiteral("ttyUSB0"));
        Choose(d.Combo2, QStringLiteral("Custom"));
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.Port(), QStringLiteral("ttyUSB0"));
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(seams.runs, 2);
}

TEST(RunSetupDialog, OkWithNoPortSelectedKeepsTheName)
{
    Seams seams({QStringLiteral("ttyS0")});
    TComPort port;
    port.SetPort(QStringLiteral("/tmp/q274-sim"));
    seams.Runner([](TComSetupFrm &d) {
        EXPECT_EQ(d.Combo1->currentIndex(), -1);
        Choose(d.Combo2, QStringLiteral("115200"));
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.Port(), QStringLiteral("/tmp/q274-sim"));
    EXPECT_EQ(port.BaudRate(), br115200);
}

// The default COM1 is the first on-board UART: the list shows it as ttyS0,
// and OK without a choice keeps the name the user gave.
TEST(RunSetupDialog, ANameForTheSameDeviceSelectsItsEntry)
{
    Seams seams({QStringLiteral("ttyS0"), QStringLiteral("ttyS1"), QStringLiteral("ttyUSB0")});
    TComPort port;
    ASSERT_EQ(port.Port(), QStringLiteral("COM1"));
    QString shown;
    seams.Runner([&shown](TComSetupFrm &d) {
        shown = d.Combo1->Text();
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_EQ(shown, QStringLiteral("ttyS0"));
    EXPECT_EQ(port.Port(), QStringLiteral("COM1"));

    port.SetPort(QStringLiteral("/dev/ttyUSB0"));
    RunSetupDialog(port);
    EXPECT_EQ(shown, QStringLiteral("ttyUSB0"));
    port.SetPort(QStringLiteral("COM2"));
    RunSetupDialog(port);
    EXPECT_EQ(shown, QStringLiteral("ttyS1"));
    port.SetPort(QStringLiteral("COM9"));
    RunSetupDialog(port);
    EXPECT_EQ(shown, QString());
    EXPECT_EQ(port.Port(), QStringLiteral("COM9"));
}

TEST(RunSetupDialog, OpenPortGetsOneReconfigurationAndReopensOnlyForANewName)
{
    Pty a, b;
    Seams seams({a.slave, b.slave});
    RecordingPort port;
    port.SetEvents(0);
    port.SetPort(a.slave);
    port.OpenPort();
    port.log.clear();

    // Unchanged: no close and reopen, the same settings sent once.
    seams.Runner([](TComSetupFrm &) { return int(QDialog::Accepted); });
    RunSetupDialog(port);
    EXPECT_EQ(port.log, (std::vector<std::string>{"line 9600"}));

    // New name and rate: the name first (reopen inside the bracket, no
    // settings reach the device there), then one apply with the new rate.
    port.log.clear();
    seams.Runner([&](TComSetupFrm &d) {
        Choose(d.Combo2, QStringLiteral("19200"));
        Choose(d.Combo1, b.slave);
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.log, (std::vector<std::string>{"close", "open " + b.slave.toStdString(), "line 19200"}));
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.Port(), b.slave);
    port.ClosePort();
}

TEST(RunSetupDialog, FailedReopenClosesTheBracketAndPropagates)
{
    Pty a;
    const QString missing = QStringLiteral("/dev/q274-no-such-port");
    Seams seams({a.slave, missing});
    RecordingPort port;
    port.SetEvents(0);
    port.SetPort(a.slave);
    port.OpenPort();
    port.allApplies = 0;

    seams.Runner([&](TComSetupFrm &d) {
        Choose(d.Combo1, missing);
        Choose(d.Combo2, QStringLiteral("38400"));
        return int(QDialog::Accepted);
    });
    try {
        RunSetupDialog(port);
        FAIL() << "no error for a port that cannot be opened";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 1);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), missing);
    EXPECT_EQ(port.BaudRate(), br9600) << "the baud rate comes after the failed name";
    EXPECT_EQ(port.allApplies, 1) << "the bracket was closed";
    port.BeginSettingsUpdate();
    port.EndSettingsUpdate();
    EXPECT_EQ(port.allApplies, 2) << "the depth is back at 0";
}

TEST(RunSetupDialog, PortListFailureRaisesBeforeTheDialogShows)
{
    Seams seams({});
    SetSerialPortLister([]() -> QStringList { throw EComPort(CError_RegError, ENOENT); });
    seams.Runner([](TComSetupFrm &) { return int(QDialog::Accepted); });
    TComPort port;
    try {
        RunSetupDialog(port);
        FAIL() << "no error";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 23);
        EXPECT_EQ(e.SystemErrorCode(), ENOENT);
    }
    EXPECT_EQ(seams.runs, 0);
}

TEST(RunSetupDialog, ErrorPolicyTakesEffectWithoutOk)
{
    Seams seams({QStringLiteral("ttyS0")});
    TComPort port;
    QString policy = kSetupPolicyStop;

    seams.Runner([&](TComSetupFrm &d) {
        Choose(d.cmbError, QStringLiteral("Log Errors and continue"));
        EXPECT_EQ(policy, kSetupPolicyLog) << "in force at once";
        return int(QDialog::Rejected);
    });
    RunSetupDialog(port, &policy);
    EXPECT_EQ(policy, QStringLiteral("LogErrorsAndContinue"));

    // A fresh dialog shows "Stop on Errors" again, and opening it changes nothing.
    seams.Runner([&](TComSetupFrm &d) {
        EXPECT_EQ(d.cmbError->currentText(), QStringLiteral("Stop on Errors"));
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port, &policy);
    EXPECT_EQ(policy, QStringLiteral("LogErrorsAndContinue"));

    seams.Runner([&](TComSetupFrm &d) {
        Choose(d.cmbError, QStringLiteral("Hide Errors and continue"));
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port, &policy);
    EXPECT_EQ(policy, QStringLiteral("HideErrorsAndContinue"));
    EXPECT_TRUE(ErrorPolicyForIndex(-1).isEmpty());
}

TEST(RunSetupDialog, EditSettingsRunsTheInstalledDialog)
{
    Seams seams({QStringLiteral("ttyS1")});
    QString policy;
    InstallSetupDialog([&](TCustomComPort &) { return &policy; });
    TComPort port;
    seams.Runner([](TComSetupFrm &d) {
        Choose(d.Combo1, QStringLiteral("ttyS1"));
        Choose(d.cmbError, QStringLiteral("Stop on Errors"));
        Choose(d.cmbError, QStringLiteral("Log Errors and continue"));
        return int(QDialog::Accepted);
    });
    port.EditSettings();
    TCustomComPort::SetEditSettingsHandler({});
    EXPECT_EQ(port.Port(), QStringLiteral("ttyS1"));
    EXPECT_EQ(policy, kSetupPolicyLog);
}
