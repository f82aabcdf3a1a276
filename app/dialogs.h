// The one way modal dialogs are shown: Yes/No questions, the save-file
// dialog, the error box, the plain message box and any prepared dialog (the
// about box, the port setup dialog). The default implementation uses Qt's
// standard dialogs; tests install their own that answer from a script
// instead of blocking.
#pragma once

#include <QString>

#include <optional>

class QDialog;
class QWidget;

namespace q274 {

enum class DialogIcon { None, Information, Warning, Question, Error };

struct SaveFileRequest {
    QString title; // empty: the platform's own title
    QString initialFolder;
    QString fileName;      // suggested name, may lack the extension
    QString defaultSuffix; // appended when the user types none, e.g. "log"
    QString filter;        // e.g. "Log files (*.log)"
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Buttons "&Yes" and "&No"; true only for Yes.
    virtual bool AskYesNo(QWidget *parent, const QString &title, const QString &text, DialogIcon icon) = 0;
    // The chosen path, or nothing when the dialog was cancelled.
    virtual std::optional<QString> AskSaveFileName(QWidget *parent, const SaveFileRequest &req) = 0;
    // The chosen existing file, or nothing when cancelled (defaultSuffix and
    // fileName unused). Not every script answers it: the Qt dialog then.
    virtual std::optional<QString> AskOpenFileName(QWidget *parent, const SaveFileRequest &req);
    // Error icon, OK button.
    virtual void ShowError(QWidget *parent, const QString &title, const QString &text) = 0;
    // No icon, OK button.
    virtual void ShowMessage(QWidget *parent, const QString &title, const QString &text) = 0;
    // Runs a prepared dialog modally; kind names it for scripts ("about",
    // "port setup"). Returns the dialog's result code.
    virtual int RunDialog(QDialog &dialog, const QString &kind) = 0;
};

// The dialogs in use (the Qt ones unless a test installed others).
Dialogs &CurrentDialogs();
// Installs another implementation; nullptr restores the Qt one. The caller
// keeps ownership.
void InstallDialogs(Dialogs *dialogs);

class QtDialogs : public Dialogs {
public:
    bool AskYesNo(QWidget *parent, const QString &title, const QString &text, DialogIcon icon) override;
    std::optional<QString> AskSaveFileName(QWidget *parent, const SaveFileRequest &req) override;
    void ShowError(QWidget *parent, const QString &title, const QString &text) override;
    void ShowMessage(QWidget *parent, const QString &title, const QString &text) override;
    int RunDialog(QDialog &dialog, const QString &kind) override;
};

} // namespace q274
