#include "dialogs.h"

#include "look.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace q274 {

namespace {

Dialogs *installed = nullptr;

QtDialogs &DefaultDialogs()
{
    static QtDialogs qtDialogs;
    return qtDialogs;
}

QMessageBox::Icon ToQt(DialogIcon icon)
{
    switch (icon) {
    case DialogIcon::Information: return QMessageBox::Information;
    case DialogIcon::Warning: return QMessageBox::Warning;
    case DialogIcon::Question: return QMessageBox::Question;
    case DialogIcon::Error: return QMessageBox::Critical;
    case DialogIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// Message boxes stand in the centre of the screen, not over the window.
class CentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event); // settles the box's size
        CentreOnScreen(this);
    }
};

} // namespace

Dialogs &CurrentDialogs() { return installed ? *installed : DefaultDialogs(); }

void InstallDialogs(Dialogs *dialogs) { installed = dialogs; }

bool QtDialogs::AskYesNo(QWidget *parent, const QString &title, const QString &text, DialogIcon icon)
{
    CentredMessageBox box(ToQt(icon), title, text, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(QObject::tr("&Yes"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QObject::tr("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

std::optional<QString> QtDialogs::AskSaveFileName(QWidget *parent, const SaveFileRequest &req)
{
    QFileDialog dlg(parent, req.title, req.initialFolder, req.filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setDefaultSuffix(req.defaultSuffix);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (!req.fileName.isEmpty())
        dlg.selectFile(req.fileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    return dlg.selectedFiles().constFirst();
}

std::optional<QString> Dialogs::AskOpenFileName(QWidget *parent, const SaveFileRequest &req)
{
    QFileDialog dlg(parent, req.title, req.initialFolder, req.filter);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    return dlg.selectedFiles().constFirst();
}

void QtDialogs::ShowError(QWidget *parent, const QString &title, const QString &text)
{
    CentredMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtDialogs::ShowMessage(QWidget *parent, const QString &title, const QString &text)
{
    CentredMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

int QtDialogs::RunDialog(QDialog &dialog, const QString &) { return dialog.exec(); }

} // namespace q274
