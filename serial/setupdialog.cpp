#include "setupdialog.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>

#include <memory>
#include <utility>
#include <mutex>

namespace q274 {

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("cport", text); }

// Tahoma where installed, else the application's own font, so the dialog
// falls back to the same family as every other window.
QFont DialogFont(bool bold = false)
{
    QFont f = QApplication::font();
    f.setFamilies(QStringList{QStringLiteral("Tahoma")} + f.families());
    f.setPixelSize(12);
    f.setBold(bold);
    return f;
}

void SetTextColour(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    p.setColor(QPalette::ButtonText, c);
    w->setPalette(p);
}

// Labels end 6 pixels before their lists whatever the font's width.
QLabel *MakeLabel(QWidget *parent, const char *name, const char *text, int right, int y)
{
    auto *l = new QLabel(Tr(text), parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(DialogFont());
    SetTextColour(l, QColor(56, 56, 56));
    l->adjustSize();
    l->move(right - l->width(), y);
    return l;
}

template <typename Combo> Combo *MakeList(QWidget *parent, const char *name, int x, int y)
{
    auto *c = new Combo(parent);
    c->setObjectName(QLatin1String(name));
    c->setFont(DialogFont(true));
    QPalette p = c->palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Button, Qt::white);
    p.setColor(QPalette::Text, QColor(72, 72, 72));
    p.setColor(QPalette::ButtonText, QColor(72, 72, 72));
    c->setPalette(p);
    c->setGeometry(x, y, 182, 22);
    return c;
}

std::mutex g_runnerMutex;
SetupDialogRunner g_runner;

} // namespace

void TComSetupFrm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // In the middle of the screen: a small modal box is found there at once,
    // wherever the main window stands.
    if (QScreen *screen = this->screen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

QString ErrorPolicyForIndex(int index)
{
    switch (index) {
    case 0: return kSetupPolicyHide;
    case 1: return kSetupPolicyLog;
    case 2: return kSetupPolicyStop;
    default: return {};
    }
}

TComSetupFrm::TComSetupFrm(QString *errorPolicy, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      FErrorPolicy(errorPolicy)
{
    setObjectName(QStringLiteral("ComSetupFrm"));
    setWindowTitle(Tr("Configure COM Port"));
    // Fixed size, so the anchors of the controls never come into play.
    setFixedSize(kClientWidth, kClientHeight);
    setFont(DialogFont());
    setAutoFillBackground(true);
    // A whole palette on the dialog's colour: dark text whatever the desktop theme.
    const QColor background(221, 219, 213);
    setPalette(QPalette(background, background));

    GroupBox1 = new QGroupBox(Tr(" Settings "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFont(DialogFont(true));
    GroupBox1->setGeometry(8, 16, 278, 136);

    Label1 = MakeLabel(GroupBox1, "Label1", "Port", 78, 37);
    Combo1 = MakeList<TComComboBox>(GroupBox1, "Combo1", 84, 33);
    Label2 = MakeLabel(GroupBox1, "Label2", "Baud Rate", 78, 70);
    Combo2 = MakeList<TComComboBox>(GroupBox1, "Combo2", 84, 66);
    Label7 = MakeLabel(GroupBox1, "Label7", "Data Errors", 78, 103);
    cmbError = MakeList<TNamedComboBox>(GroupBox1, "cmbError", 84, 100);
    // Read by screen readers: the lists by their labels, not their values.
    const std::pair<QLabel *, QComboBox *> pairs[] = {{Label1, Combo1}, {Label2, Combo2}, {Label7, cmbError}};
    for (const auto &[label, list] : pairs) {
        label->setBuddy(list);
        list->setAccessibleName(label->text());
    }
    GroupBox1->setAccessibleName(Tr("Port settings"));

    // Reads the system's ports now: a failure ends the construction.
    Combo1->SetComProperty(cpPort);
    Combo2->SetComProperty(cpBaudRate);

    cmbError->addItems({QStringLiteral("Hide Errors and continue"), QStringLiteral("Log Errors and continue"),
                        QStringLiteral("Stop on Errors")});
    cmbError->setCurrentIndex(2);
    // Connected after the initial selection: opening the dialog leaves the
    // policy as it is.
    connect(cmbError, &QComboBox::currentIndexChanged, this, [this](int) { cmbErrorChange(); });

    Button1 = new QPushButton(Tr("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(211, 159, 75, 23);
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, cmbError);
    setTabOrder(cmbError, Button1);
    Combo1->setFocus(Qt::OtherFocusReason);
}

void TComSetupFrm::cmbErrorChange()
{
    const QString policy = ErrorPolicyForIndex(cmbError->currentIndex());
    if (!policy.isEmpty() && FErrorPolicy)
        *FErrorPolicy = policy;
}

void SetSetupDialogRunner(SetupDialogRunner runner)
{
    std::lock_guard<std::mutex> g(g_runnerMutex);
    g_runner = std::move(runner);
}

void RunSetupDialog(TCustomComPort &port, QString *errorPolicy)
{
    SetupDialogRunner runner;
    {
        std::lock_guard<std::mutex> g(g_runnerMutex);
        runner = g_runner;
    }
    // Owned here, so it is released on every path.
    auto dialog = std::make_unique<TComSetupFrm>(errorPolicy);
    dialog->Combo1->SetComPort(&port);
    dialog->Combo2->SetComPort(&port);
    dialog->Combo1->setFocus(Qt::OtherFocusReason);

    const int result = runner ? runner(*dialog) : dialog->exec();
    if (result != QDialog::Accepted)
        return;

    port.BeginSettingsUpdate();
    try {
        // No port selected: the current name is not among the system's
        // ports and the user chose none; an empty name would only make the
        // next connect fail, so the name stays.
        if (!dialog->Combo1->Text().isEmpty())
            dialog->Combo1->ApplySettings();
        dialog->Combo2->ApplySettings();
    } catch (...) {
        port.EndSettingsUpdate();
        throw;
    }
    port.EndSettingsUpdate();
}

void InstallSetupDialog(std::function<QString *(TCustomComPort &)> policyOf)
{
    TCustomComPort::SetEditSettingsHandler([policyOf = std::move(policyOf)](TCustomComPort &port) {
        RunSetupDialog(port, policyOf ? policyOf(port) : nullptr);
    });
}

} // namespace q274
