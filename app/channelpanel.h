// One "Relay Control" panel of the Control page: the enable box, set point
// and dropout with their spinners, the mode list, the manual-override box and
// the manual relay button of one channel. Controls carry the names the
// program and its tests find them by (edtSP1, UpDown7, btnR3, ...) and the
// channel as their "Tag".
#pragma once

#include "channelsettings.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace q274 {

class TUpDown;

struct TChannelPanel {
    // Builds the panel of channel (1..4) on page at x.
    TChannelPanel(QWidget *page, int channel, int x);

    // The settings as the panel shows them.
    ChannelSettings Read() const;
    // Captions from the message table.
    void ApplyCaptions();

    int Channel;
    QGroupBox *Box;
    QCheckBox *Enable;
    QLineEdit *SetPoint;
    TUpDown *SetPointSpinner;
    QLabel *SetPointLabel;
    QLineEdit *Dropout;
    TUpDown *DropoutSpinner;
    QLabel *DropoutLabel;
    QComboBox *Mode;
    QLabel *ModeLabel;
    QFrame *Bevel;
    QLabel *OverrideLabel;
    QCheckBox *Override;
    QPushButton *RelayButton;

private:
    void NameForAssistiveTechnology();
};

} // namespace q274
