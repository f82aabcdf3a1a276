// Dialogs for tests: records every request and answers from queues instead
// of blocking. With an empty queue a question is answered No, a save dialog
// is cancelled and a prepared dialog is rejected. Installs itself on
// construction and restores the Qt dialogs on destruction.
#pragma once

#include "dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

namespace q274 {

class ScriptedDialogs : public Dialogs {
public:
    struct Request {
        QString kind; // "question", "save", "error", "message" or the RunDialog kind
        QString title;
        QString text; // for "save": the suggested file name
        DialogIcon icon = DialogIcon::None;
        SaveFileRequest save;
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    std::deque<bool> answers; // for AskYesNo
    std::deque<std::optional<QString>> saveAnswers;
    std::deque<int> dialogResults; // for RunDialog
    std::vector<Request> requests;

    QStringList Kinds() const;
    QStringList Texts() const;

    bool AskYesNo(QWidget *parent, const QString &title, const QString &text, DialogIcon icon) override;
    std::optional<QString> AskSaveFileName(QWidget *parent, const SaveFileRequest &req) override;
    void ShowError(QWidget *parent, const QString &title, const QString &text) override;
    void ShowMessage(QWidget *parent, const QString &title, const QString &text) override;
    int RunDialog(QDialog &dialog, const QString &kind) override;
};

} // namespace q274
