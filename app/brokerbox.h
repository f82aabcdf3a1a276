// The broker settings on the Alarms page: host, port, TLS CA file, user,
// password, topic prefix and whether the profile may keep the password.
// It shows and forwards; the window decides what a change does.
#pragma once

#include "runsettings.h"

#include <QGroupBox>

#include <functional>

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace q274 {

class TBrokerBox : public QGroupBox {
public:
    explicit TBrokerBox(QWidget *parent = nullptr);

    // Shows settings without calling OnChanged.
    void Show(const MqttSettings &settings);
    MqttSettings Settings() const;
    // The prefix used when the field is left empty.
    void ShowDefaultPrefix(const QString &prefix);

    // After the user finished editing a field.
    std::function<void()> OnChanged;

    QLineEdit *Host, *CaFile, *User, *Password, *Prefix;
    QSpinBox *Port;
    QCheckBox *KeepPasswordOut;

private:
    void Changed();
    bool FShowing = false;
};

} // namespace q274
