// The "Alarms" page: the alarm limits and times, the alarm command, the
// switches of unattended operation, acknowledging, and the profile buttons.
// It shows and forwards; the window decides.
#pragma once

#include "runsettings.h"

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace q274 {

class TAlarmsPage : public QWidget {
public:
    explicit TAlarmsPage(QWidget *parent = nullptr);

    void Show(const AlarmSettings &alarms, const UnattendedSettings &unattended);
    // What the page holds; a limit that is not a number counts as none.
    AlarmSettings Alarms() const;
    UnattendedSettings Unattended() const;
    void ShowProfile(const QString &path);
    void ShowAlarmState(const QString &text);

    // Where the broker settings go (below the page's own groups).
    QVBoxLayout *BrokerArea() const { return FBrokerArea; }

    std::function<void()> OnChanged, OnAcknowledge, OnOpenProfile, OnSaveProfileAs;

    std::array<QLineEdit *, 4> Low{}, High{};
    QSpinBox *SilentLink, *NoReading;
    QLineEdit *Command;
    QCheckBox *Reconnect, *ConnectAtStart, *RelaysOff;
    QPushButton *Acknowledge, *OpenProfile, *SaveProfileAs;
    QLabel *ProfileName, *AlarmState;

private:
    void Changed();
    QVBoxLayout *FBrokerArea;
    bool FShowing = false;
};

} // namespace q274
