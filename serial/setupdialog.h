// The port setup dialog: port name and baud rate, written to the port when
// the dialog ends with OK, and the error policy, in force as soon as it is
// chosen.
#pragma once

#include "comctl.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace q274 {

// The texts of the error policy as the connection stores them, in the order
// of the "Data Errors" list.
inline const QString kSetupPolicyHide = QStringLiteral("HideErrorsAndContinue");
inline const QString kSetupPolicyLog = QStringLiteral("LogErrorsAndContinue");
inline const QString kSetupPolicyStop = QStringLiteral("StopOnErrors");

// The policy text for an index of the "Data Errors" list; empty for none.
QString ErrorPolicyForIndex(int index);

class TComSetupFrm : public QDialog {
public:
    static constexpr int kClientWidth = 292;
    static constexpr int kClientHeight = 188;

    // Fills both lists; reading the system's ports may raise EComPort code 23.
    // errorPolicy (may be null) receives every change of the "Data Errors" list.
    explicit TComSetupFrm(QString *errorPolicy = nullptr, QWidget *parent = nullptr);

    QGroupBox *GroupBox1;
    QLabel *Label1, *Label2, *Label7;
    TComComboBox *Combo1, *Combo2;
    QComboBox *cmbError;
    QPushButton *Button1;

    void cmbErrorChange();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString *FErrorPolicy;
};

// Runs a prepared dialog modally and returns its result code. The program
// installs one that goes through its dialog seam; the default is exec().
using SetupDialogRunner = std::function<int(QDialog &)>;
void SetSetupDialogRunner(SetupDialogRunner runner);

// Shows the dialog for the port. After OK: inside one update bracket, the
// port name (only when one is selected) and then the baud rate are applied;
// the bracket is closed also when applying raises, and the error propagates.
void RunSetupDialog(TCustomComPort &port, QString *errorPolicy = nullptr);

// Makes EditSettings on any port run RunSetupDialog; policyOf tells where the
// chosen error policy of that port goes (nullptr: nowhere).
void InstallSetupDialog(std::function<QString *(TCustomComPort &)> policyOf);

} // namespace q274
