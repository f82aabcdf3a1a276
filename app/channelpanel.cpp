#include "channelpanel.h"

#include "accessnames.h"
#include "controls.h"
#include "look.h"
#include "namedcombo.h"
#include "rstrings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace q274 {

namespace {
const QColor kCaptionText(45, 45, 45);

// The spinners keep the names they have always had, not numbered by panel.
const char *const kSetPointSpinners[] = {"UpDown1", "UpDown7", "UpDown5", "UpDown3"};
const char *const kDropoutSpinners[] = {"UpDown2", "UpDown8", "UpDown6", "UpDown4"};
} // namespace

TChannelPanel::TChannelPanel(QWidget *page, int channel, int x) : Channel(channel)
{
    const std::size_t i = std::size_t(channel - 1);
    Box = Make<QGroupBox>(page, "", x, 8, 140, 392);
    Box->setObjectName(ChannelName("gbRC", channel));
    SetTextColor(Box, kCaptionText);

    Enable = Make<QCheckBox>(Box, "", 28, 30, 96, 17);
    Enable->setObjectName(ChannelName("chkEnable", channel));
    Enable->setProperty("Tag", channel);

    // Channel 2's set point edit has always been spelled "edtSp2".
    SetPoint = Make<QLineEdit>(Box, "", 34, 66, 48, 21);
    SetPoint->setObjectName(ChannelName(channel == 2 ? "edtSp" : "edtSP", channel));
    SetPointSpinner = new TUpDown(kSetPointMin, kSetPointMax, 30, SetPoint, Box);
    SetPointSpinner->setObjectName(QString::fromLatin1(kSetPointSpinners[i]));
    SetPointSpinner->setGeometry(82, 66, 16, 21);
    SetPointLabel = Make<QLabel>(Box, "", 34, 89, 90, 15);
    SetPointLabel->setObjectName(ChannelName("lblSP", channel));

    Dropout = Make<QLineEdit>(Box, "", 34, 126, 48, 21);
    Dropout->setObjectName(ChannelName("edtDrop", channel));
    DropoutSpinner = new TUpDown(kDropoutMin, kDropoutMax, 3, Dropout, Box);
    DropoutSpinner->setObjectName(QString::fromLatin1(kDropoutSpinners[i]));
    DropoutSpinner->setGeometry(82, 126, 16, 21);
    DropoutLabel = Make<QLabel>(Box, "", 34, 149, 90, 15);
    DropoutLabel->setObjectName(ChannelName("lblDrop", channel));

    for (QLineEdit *e : {SetPoint, Dropout}) {
        e->setReadOnly(true);
        e->setFont(LayoutFont(12, true));
    }

    Mode = Make<TNamedComboBox>(Box, "", 34, 186, 64, 22);
    Mode->setObjectName(ChannelName("cmbMode", channel));
    Mode->addItems({kModeCool, kModeHeat});
    Mode->setCurrentIndex(1);
    Mode->setFont(LayoutFont(12, true));
    ModeLabel = Make<QLabel>(Box, "", 34, 210, 90, 15);
    ModeLabel->setObjectName(ChannelName("lblMode", channel));

    Bevel = EtchedLine(Box, "", 8, 240, 124);
    Bevel->setObjectName(ChannelName("Bevel", channel));

    OverrideLabel = Make<QLabel>(Box, "", 10, 250, 120, 32);
    OverrideLabel->setObjectName(ChannelName("lblMan", channel));
    OverrideLabel->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    OverrideLabel->setWordWrap(true);

    // No caption of its own: only the box shows.
    Override = Make<QCheckBox>(Box, "", 62, 288, 17, 17);
    Override->setObjectName(ChannelName("chkM", channel));
    Override->setChecked(true);

    RelayButton = Make<QPushButton>(Box, "", 20, 340, 100, 25);
    RelayButton->setObjectName(ChannelName("btnR", channel));
    RelayButton->setProperty("Tag", channel);
    RelayButton->setFont(LayoutFont(13));

    NameForAssistiveTechnology();
    ApplyCaptions();
}

void TChannelPanel::NameForAssistiveTechnology()
{
    const auto name = [this](QWidget *w, const char *what) {
        w->setAccessibleName(ChannelAccessibleName(Channel, QLatin1String(what)));
    };
    name(Box, "relay control");
    name(Enable, "enabled");
    name(SetPoint, "set point");
    name(SetPointSpinner->UpButton(), "set point up");
    name(SetPointSpinner->DownButton(), "set point down");
    name(Dropout, "dropout");
    name(DropoutSpinner->UpButton(), "dropout up");
    name(DropoutSpinner->DownButton(), "dropout down");
    name(Mode, "mode");
    name(Override, "manual overrides control");
    name(RelayButton, "relay");
    SetPoint->setAccessibleDescription(QStringLiteral("Up and Down step by 1, Page Up and Page Down by 10"));
    Dropout->setAccessibleDescription(SetPoint->accessibleDescription());
    SetPointLabel->setBuddy(SetPoint);
    DropoutLabel->setBuddy(Dropout);
    ModeLabel->setBuddy(Mode);
    OverrideLabel->setBuddy(Override);
}

ChannelSettings TChannelPanel::Read() const
{
    ChannelSettings s;
    s.Enabled = Enable->isChecked();
    // The edits hold only what their spinners wrote: always whole numbers.
    s.SetPoint = SetPoint->text().toInt();
    s.Dropout = Dropout->text().toInt();
    s.Mode = Mode->currentText();
    s.ManualOverrides = Override->isChecked();
    return s;
}

void TChannelPanel::ApplyCaptions()
{
    Box->setTitle(rs::sRelayControl);
    Enable->setText(rs::sEnabled);
    SetPointLabel->setText(rs::sSetPoint);
    DropoutLabel->setText(rs::sDropout);
    ModeLabel->setText(rs::sMode);
    OverrideLabel->setText(rs::sManualOverridesControl);
    RelayButton->setText(rs::RelayButtonCaption(Channel));
}

} // namespace q274
