#include "scripteddialogs.h"

#include <QDialog>

namespace q274 {

ScriptedDialogs::ScriptedDialogs() { InstallDialogs(this); }

ScriptedDialogs::~ScriptedDialogs()
{
    if (&CurrentDialogs() == this)
        InstallDialogs(nullptr);
}
QStringList ScriptedDialogs::Kinds() const
{
    QStringList out;
    for (const Request &r : requests)
        out << r.kind;
    return out;
}

QStringList ScriptedDialogs::Texts() const
{
    QStringList out;
    for (const Request &r : requests)
        out << r.text;
    return out;
}

bool ScriptedDialogs::AskYesNo(QWidget *, const QString &title, const QString &text, DialogIcon icon)
{
    requests.push_back({QStringLiteral("question"), title, text, icon, {}});
    if (answers.empty())
        return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

std::optional<QString> ScriptedDialogs::AskSaveFileName(QWidget *, const SaveFileRequest &req)
{
    requests.push_back({QStringLiteral("save"), req.title, req.fileName, DialogIcon::None, req});
    std::optional<QString> answer;
    if (!saveAnswers.empty()) {
        answer.swap(saveAnswers.front());
        saveAnswers.pop_front();
    }
    return answer;
}

void ScriptedDialogs::ShowError(QWidget *, const QString &title, const QString &text)
{
    requests.push_back({QStringLiteral("error"), title, text, DialogIcon::Error, {}});
}

void ScriptedDialogs::ShowMessage(QWidget *, const QString &title, const QString &text)
{
    requests.push_back({QStringLiteral("message"), title, text, DialogIcon::None, {}});
}

int ScriptedDialogs::RunDialog(QDialog &dialog, const QString &kind)
{
    requests.push_back({kind, dialog.windowTitle(), QString(), DialogIcon::None, {}});
    if (dialogResults.empty())
        return QDialog::Rejected;
    const int r = dialogResults.front();
    dialogResults.pop_front();
    return r;
}

} // namespace q274
