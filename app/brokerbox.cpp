#include "brokerbox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace q274 {

namespace {

template <typename T> T *Named(T *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

} // namespace

TBrokerBox::TBrokerBox(QWidget *parent) : QGroupBox(QStringLiteral(" MQTT broker "), parent)
{
    setObjectName(QStringLiteral("gbBroker"));
    auto *g = new QGridLayout(this);
    Host = Named(new QLineEdit, "edtBrokerHost");
    Host->setPlaceholderText(QStringLiteral("none (no publishing)"));
    Port = Named(new QSpinBox, "spnBrokerPort");
    Port->setRange(1, 65535);
    Port->setValue(1883);
    CaFile = Named(new QLineEdit, "edtBrokerCa");
    CaFile->setPlaceholderText(QStringLiteral("none (no TLS)"));
    User = Named(new QLineEdit, "edtBrokerUser");
    User->setPlaceholderText(QStringLiteral("none"));
    Password = Named(new QLineEdit, "edtBrokerPassword");
    Password->setEchoMode(QLineEdit::Password);
    Prefix = Named(new QLineEdit, "edtBrokerPrefix");
    KeepPasswordOut = Named(new QCheckBox(QStringLiteral("Keep the password out of the profile")), "chkKeepPasswordOut");

    auto row = [&](int r, int c, const QString &text, QWidget *w, int span = 1) {
        auto *label = new QLabel(text);
        label->setBuddy(w);
        g->addWidget(label, r, c);
        g->addWidget(w, r, c + 1, 1, span);
        // "MQTT host", but "MQTT CA file": an abbreviation keeps its capitals
        // so that a screen reader spells it rather than reading a word.
        QString name = QString(text).remove(QLatin1Char('&'));
        if (name.size() > 1 && !name.at(1).isUpper())
            name[0] = name.at(0).toLower();
        w->setAccessibleName(QStringLiteral("MQTT ") + name);
    };
    row(0, 0, QStringLiteral("Host"), Host);
    row(0, 2, QStringLiteral("Port"), Port);
    row(0, 4, QStringLiteral("CA file"), CaFile);
    row(1, 0, QStringLiteral("User"), User);
    row(1, 2, QStringLiteral("Password"), Password);
    row(1, 4, QStringLiteral("Prefix"), Prefix);
    g->addWidget(KeepPasswordOut, 2, 0, 1, 6);
    KeepPasswordOut->setAccessibleName(KeepPasswordOut->text());

    for (QLineEdit *e : {Host, CaFile, User, Password, Prefix})
        connect(e, &QLineEdit::editingFinished, this, [this] { Changed(); });
    connect(Port, &QSpinBox::editingFinished, this, [this] { Changed(); });
    connect(KeepPasswordOut, &QCheckBox::clicked, this, [this] { Changed(); });
}

void TBrokerBox::Show(const MqttSettings &s)
{
    FShowing = true;
    Host->setText(s.Host);
    Port->setValue(s.Port);
    CaFile->setText(s.TlsCa);
    User->setText(s.User);
    Password->setText(s.Password);
    Prefix->setText(s.Prefix);
    KeepPasswordOut->setChecked(!s.StorePassword);
    FShowing = false;
}

MqttSettings TBrokerBox::Settings() const
{
    MqttSettings s;
    s.Host = Host->text().trimmed();
    s.Port = Port->value();
    s.TlsCa = CaFile->text().trimmed();
    s.User = User->text().trimmed();
    s.Password = Password->text();
    s.Prefix = Prefix->text().trimmed();
    s.StorePassword = !KeepPasswordOut->isChecked();
    return s;
}

void TBrokerBox::ShowDefaultPrefix(const QString &prefix) { Prefix->setPlaceholderText(prefix); }

void TBrokerBox::Changed()
{
    if (!FShowing && OnChanged)
        OnChanged();
}

} // namespace q274
