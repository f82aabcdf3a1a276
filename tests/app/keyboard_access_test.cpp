// The window without a mouse and through assistive technology: keys that
// step the set points and dropouts, the log view's shortcut, and the names a
// screen reader reads from the accessibility tree.
#include "about.h"
#include "mainwindow.h"
#include "portlist.h"
#include "setupdialog.h"

#include "support/mainwidgets.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMap>
#include <QScopeGuard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace q274;
using namespace q274test;

namespace {

// What a screen reader reads for w.
QString HeardName(QWidget *w)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name).trimmed() : QString();
}

// Every control of window that takes focus, on every page, has a name, and
// no two have the same; the list popups are windows of their own.
void ExpectNamedApart(QWidget &window)
{
    QMap<QString, QString> seen; // name -> the control that has it
    int controls = 0;
    for (QWidget *c : window.findChildren<QWidget *>()) {
        if (c->focusPolicy() == Qt::NoFocus || c->window() != &window)
            continue;
        // A scroll area's viewport is read as the area, a spin box's edit as
        // the spin box.
        if (auto *area = qobject_cast<QAbstractScrollArea *>(c->parentWidget()); area && area->viewport() == c)
            continue;
        if (qobject_cast<QAbstractSpinBox *>(c->parentWidget()))
            continue;
        ++controls;
        const QString what = c->objectName() + QLatin1Char(' ') + QLatin1String(c->metaObject()->className())
                             + QStringLiteral(" in ") + c->parentWidget()->objectName();
        const QString name = HeardName(c);
        if (name.isEmpty()) {
            ADD_FAILURE() << "no name: " << what.toStdString();
            continue;
        }
        if (seen.contains(name))
            ADD_FAILURE() << "\"" << name.toStdString() << "\" names both " << seen[name].toStdString() << " and "
                          << what.toStdString();
        seen.insert(name, what);
    }
    EXPECT_GT(controls, 3) << window.objectName().toStdString();
}

// The same over the tree a screen reader walks, where parts that are no
// widgets of their own (page tabs, a view's drawing area) appear as well. A
// page tab list is named by its current tab, as every tab bar reads.
void ExpectTreeNamedApart(QAccessibleInterface *node, QMap<QString, QString> &seen, int depth = 0)
{
    if (!node || depth > 40)
        return;
    if (node->state().focusable && node->role() != QAccessible::PageTabList) {
        const QString name = node->text(QAccessible::Name).trimmed();
        QAccessibleInterface *parent = node->parent();
        const QString what = QStringLiteral("role %1 in \"%2\"")
                                 .arg(int(node->role()))
                                 .arg(parent ? parent->text(QAccessible::Name) : QString());
        if (name.isEmpty())
            ADD_FAILURE() << "no name: " << what.toStdString();
        else if (seen.contains(name))
            ADD_FAILURE() << "\"" << name.toStdString() << "\" names both " << seen[name].toStdString() << " and "
                          << what.toStdString();
        seen.insert(name, what);
    }
    for (int i = 0; i < node->childCount(); ++i)
        ExpectTreeNamedApart(node->child(i), seen, depth + 1);
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The window previews the keys, as the program's start-up has it do.
        qApp->installEventFilter(&w);
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }

    // Through the window system, as a real key arrives.
    void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(w.windowHandle(), key, mods);
    }

    ScriptedDialogs dialogs;
    TfrmMain w;
};

} // namespace

// Each press is one click of the spinner, within its limits, and logs nothing.
TEST_F(Keyboard, ArrowsAndPageKeysStepTheFocusedEdit)
{
    const qsizetype lines = w.LogModel().Count();
    QSignalSpy clicks(Channel(w, 1).SetPointSpinner, &TUpDown::clicked);
    Channel(w, 1).SetPointEdit->setFocus();
    Press(Qt::Key_Up);
    Press(Qt::Key_Up);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, 32);
    Press(Qt::Key_PageUp);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, 42);
    Press(Qt::Key_Down);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, 41);
    EXPECT_EQ(clicks.count(), 4);
    for (int i = 0; i < 20; ++i)
        Press(Qt::Key_PageDown);
    EXPECT_EQ(Channel(w, 1).SetPointEdit->text(), QStringLiteral("-15"));
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, -15);
    // Ctrl and Alt keep their meaning as shortcuts: no step.
    Press(Qt::Key_Up, Qt::ControlModifier);
    Press(Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, -15);

    Channel(w, 3).DropoutEdit->setFocus();
    Press(Qt::Key_PageUp);
    Press(Qt::Key_PageUp);
    Press(Qt::Key_PageUp);
    EXPECT_EQ(w.ChannelState().Settings(3).Dropout, 25);
    Press(Qt::Key_Down);
    EXPECT_EQ(w.ChannelState().Settings(3).Dropout, 24);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, -15);
    EXPECT_EQ(w.LogModel().Count(), lines);
}

// F6 lends the keyboard to the log view from any page; Esc gives it back
// where it was. Tab alone never reaches the view.
TEST_F(Keyboard, F6FocusesTheLogViewAndEscapeGoesBack)
{
    const MainWidgets ui(w);
    Channel(w, 2).DropoutEdit->setFocus();
    Press(Qt::Key_F6);
    EXPECT_EQ(ui.pgMain->currentWidget(), ui.tabLog);
    EXPECT_TRUE(ui.memLog->hasFocus());
    Press(Qt::Key_F6); // again: Esc still knows the way back
    Press(Qt::Key_Escape);
    EXPECT_EQ(ui.pgMain->currentWidget(), ui.tabControl);
    EXPECT_EQ(QApplication::focusWidget(), Channel(w, 2).DropoutEdit);

    // On the Log page itself, too.
    ui.pgMain->setCurrentWidget(ui.tabLog);
    ui.btnConn->setFocus();
    QWidget *start = QApplication::focusWidget();
    for (int i = 0; i < 200; ++i) {
        Press(Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), ui.memLog);
        if (QApplication::focusWidget() == start)
            break;
    }
    EXPECT_EQ(QApplication::focusWidget(), start) << "Tab did not come round";
}

TEST_F(Keyboard, EveryControlHasANameOfItsOwn)
{
    ExpectNamedApart(w);
    QMap<QString, QString> seen;
    ExpectTreeNamedApart(QAccessible::queryAccessibleInterface(&w), seen);
    EXPECT_GT(seen.size(), 60);
    // The port dialog and the about box, on a list of two ports.
    SetSerialPortLister([] { return QStringList{QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")}; });
    const auto restore = qScopeGuard([] { SetSerialPortLister({}); });
    TComSetupFrm setup;
    ExpectNamedApart(setup);
    EXPECT_EQ(HeardName(setup.Combo2), QStringLiteral("Baud Rate"));
    EXPECT_EQ(setup.Label2->buddy(), setup.Combo2);
}

// The lamps and read-outs say in words what colour and number say.
TEST_F(Keyboard, LampsAndReadoutsAreHeardWithTheirStateAndUnit)
{
    const MainWidgets ui(w);
    EXPECT_EQ(HeardName(ui.shp1), QStringLiteral("Relay 1 unknown"));
    w.ShowRelayStatus(QStringLiteral("05"));
    EXPECT_EQ(HeardName(ui.shp1), QStringLiteral("Relay 1 on"));
    EXPECT_EQ(HeardName(ui.shp2), QStringLiteral("Relay 2 off"));
    EXPECT_EQ(HeardName(ui.shp3), QStringLiteral("Relay 3 on"));

    w.ShowChannelTemperature(2, QStringLiteral("21.5"));
    EXPECT_EQ(HeardName(ui.lblCh2), QStringLiteral("Channel 2 temperature 21.5 °C"));
    ui.cmbDeg->setCurrentIndex(1);
    w.ShowChannelTemperature(2, QStringLiteral("21.5"));
    EXPECT_TRUE(HeardName(ui.lblCh2).endsWith(QStringLiteral(" °F"))) << HeardName(ui.lblCh2).toStdString();
    w.ClearReadouts();
    EXPECT_EQ(HeardName(ui.lblCh2), QStringLiteral("Channel 2 temperature, no reading"));
}
