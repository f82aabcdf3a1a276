#include "alarmspage.h"

#include "accessnames.h"


#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

namespace q274 {

namespace {

std::optional<double> LimitOf(const QLineEdit *e)
{
    QString t = e->text().trimmed();
    if (t.isEmpty())
        return std::nullopt;
    // The user's decimal comma reads as well as a point.
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && std::isfinite(v) && std::fabs(v) <= 1000 ? std::optional<double>(v) : std::nullopt;
}

QString LimitShown(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'g', QLocale::FloatingPointShortest) : QString();
}

template <typename T> T *Named(T *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

} // namespace

TAlarmsPage::TAlarmsPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pgAlarms"));
    auto *outer = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    outer->addLayout(top);

    auto *limits = Named(new QGroupBox(QStringLiteral(" Limits (in the unit shown) ")), "gbLimits");
    auto *lg = new QGridLayout(limits);
    lg->addWidget(new QLabel(QStringLiteral("Low")), 0, 1);
    lg->addWidget(new QLabel(QStringLiteral("High")), 0, 2);
    for (int i = 0; i < 4; ++i) {
        auto *label = new QLabel(QStringLiteral("Ch%1").arg(i + 1));
        Low[size_t(i)] = new QLineEdit;
        Low[size_t(i)]->setObjectName(QStringLiteral("edtLow%1").arg(i + 1));
        High[size_t(i)] = new QLineEdit;
        High[size_t(i)]->setObjectName(QStringLiteral("edtHigh%1").arg(i + 1));
        for (QLineEdit *e : {Low[size_t(i)], High[size_t(i)]}) {
            e->setPlaceholderText(QStringLiteral("none"));
            e->setMaximumWidth(80);
            connect(e, &QLineEdit::editingFinished, this, [this] { Changed(); });
        }
        label->setBuddy(Low[size_t(i)]);
        Low[size_t(i)]->setAccessibleName(ChannelAccessibleName(i + 1, QStringLiteral("low limit")));
        High[size_t(i)]->setAccessibleName(ChannelAccessibleName(i + 1, QStringLiteral("high limit")));
        lg->addWidget(label, i + 1, 0);
        lg->addWidget(Low[size_t(i)], i + 1, 1);
        lg->addWidget(High[size_t(i)], i + 1, 2);
    }
    top->addWidget(limits);

    auto *watch = Named(new QGroupBox(QStringLiteral(" Watching ")), "gbWatch");
    auto *wg = new QGridLayout(watch);
    SilentLink = Named(new QSpinBox, "spnSilentLink");
    NoReading = Named(new QSpinBox, "spnNoReading");
    for (QSpinBox *s : {SilentLink, NoReading}) {
        s->setRange(0, 7 * 24 * 3600);
        s->setSuffix(QStringLiteral(" s"));
        s->setSpecialValueText(QStringLiteral("off"));
        connect(s, &QSpinBox::editingFinished, this, [this] { Changed(); });
    }
    auto *silentLabel = new QLabel(QStringLiteral("No reading from the board for more than"));
    silentLabel->setBuddy(SilentLink);
    auto *noReadingLabel = new QLabel(QStringLiteral("A channel without a new reading for more than"));
    noReadingLabel->setBuddy(NoReading);
    Command = Named(new QLineEdit, "edtAlarmCommand");
    Command->setPlaceholderText(QStringLiteral("none (run without a shell)"));
    connect(Command, &QLineEdit::editingFinished, this, [this] { Changed(); });
    auto *commandLabel = new QLabel(QStringLiteral("Command at every alarm"));
    commandLabel->setBuddy(Command);
    wg->addWidget(silentLabel, 0, 0);
    wg->addWidget(SilentLink, 0, 1);
    wg->addWidget(noReadingLabel, 1, 0);
    wg->addWidget(NoReading, 1, 1);
    wg->addWidget(commandLabel, 2, 0, 1, 2);
    wg->addWidget(Command, 3, 0, 1, 2);
    top->addWidget(watch, 1);

    auto *run = Named(new QGroupBox(QStringLiteral(" Leaving it running ")), "gbUnattended");
    auto *rg = new QGridLayout(run);
    Reconnect = Named(new QCheckBox(QStringLiteral("Reconnect automatically")), "chkReconnect");
    ConnectAtStart = Named(new QCheckBox(QStringLiteral("Connect at start")), "chkConnectAtStart");
    RelaysOff = Named(new QCheckBox(QStringLiteral("Relays off on disconnect")), "chkRelaysOff");
    for (QCheckBox *c : {Reconnect, ConnectAtStart, RelaysOff})
        connect(c, &QCheckBox::clicked, this, [this] { Changed(); });
    Acknowledge = Named(new QPushButton(QStringLiteral("Acknowledge")), "btnAcknowledge");
    Acknowledge->setToolTip(QStringLiteral("Acknowledge the alarms (Ctrl+D)"));
    AlarmState = Named(new QLabel(QStringLiteral("No alarm")), "lblAlarmState");
    OpenProfile = Named(new QPushButton(QStringLiteral("Open Profile...")), "btnOpenProfile");
    OpenProfile->setToolTip(QStringLiteral("Ctrl+O"));
    SaveProfileAs = Named(new QPushButton(QStringLiteral("Save Profile As...")), "btnSaveProfileAs");
    ProfileName = Named(new QLabel(QStringLiteral("No profile")), "lblProfile");
    ProfileName->setWordWrap(true);
    ProfileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(Acknowledge, &QPushButton::clicked, this, [this] { if (OnAcknowledge) OnAcknowledge(); });
    connect(OpenProfile, &QPushButton::clicked, this, [this] { if (OnOpenProfile) OnOpenProfile(); });
    connect(SaveProfileAs, &QPushButton::clicked, this, [this] { if (OnSaveProfileAs) OnSaveProfileAs(); });
    rg->addWidget(Reconnect, 0, 0);
    rg->addWidget(ConnectAtStart, 1, 0);
    rg->addWidget(RelaysOff, 2, 0);
    rg->addWidget(AlarmState, 0, 1);
    rg->addWidget(Acknowledge, 1, 1);
    rg->addWidget(OpenProfile, 0, 2);
    rg->addWidget(SaveProfileAs, 1, 2);
    rg->addWidget(ProfileName, 3, 0, 1, 3);
    outer->addWidget(run);

    FBrokerArea = new QVBoxLayout;
    outer->addLayout(FBrokerArea);
    outer->addStretch(1);
}

void TAlarmsPage::Show(const AlarmSettings &alarms, const UnattendedSettings &unattended)
{
    FShowing = true;
    for (size_t i = 0; i < 4; ++i) {
        Low[i]->setText(LimitShown(alarms.Limits[i].Low));
        High[i]->setText(LimitShown(alarms.Limits[i].High));
    }
    SilentLink->setValue(alarms.SilentLinkS);
    NoReading->setValue(alarms.NoReadingS);
    Command->setText(alarms.Command);
    Reconnect->setChecked(unattended.Reconnect);
    ConnectAtStart->setChecked(unattended.ConnectAtStart);
    RelaysOff->setChecked(unattended.RelaysOffOnDisconnect);
    FShowing = false;
}

AlarmSettings TAlarmsPage::Alarms() const
{
    AlarmSettings a;
    for (size_t i = 0; i < 4; ++i) {
        a.Limits[i].Low = LimitOf(Low[i]);
        a.Limits[i].High = LimitOf(High[i]);
        // A low limit at or above the high one could never be quiet.
        if (a.Limits[i].Low && a.Limits[i].High && *a.Limits[i].Low >= *a.Limits[i].High)
            a.Limits[i].Low.reset();
    }
    a.SilentLinkS = SilentLink->value();
    a.NoReadingS = NoReading->value();
    a.Command = Command->text().trimmed();
    return a;
}

UnattendedSettings TAlarmsPage::Unattended() const
{
    return {Reconnect->isChecked(), ConnectAtStart->isChecked(), RelaysOff->isChecked()};
}

void TAlarmsPage::ShowProfile(const QString &path)
{
    ProfileName->setText(path.isEmpty() ? QStringLiteral("No profile") : QStringLiteral("Profile: ") + path);
}

void TAlarmsPage::ShowAlarmState(const QString &text) { AlarmState->setText(text); }

void TAlarmsPage::Changed()
{
    if (FShowing)
        return;
    // What was refused (not a number, low not below high) is shown as taken.
    const AlarmSettings a = Alarms();
    for (size_t i = 0; i < 4; ++i) {
        if (LimitShown(a.Limits[i].Low) != Low[i]->text().trimmed())
            Low[i]->setText(LimitShown(a.Limits[i].Low));
        if (LimitShown(a.Limits[i].High) != High[i]->text().trimmed())
            High[i]->setText(LimitShown(a.Limits[i].High));
    }
    if (OnChanged)
        OnChanged();
}

} // namespace q274
