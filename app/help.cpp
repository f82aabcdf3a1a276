#include "help.h"

#include "dialogs.h"
#include "shellrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace q274 {

namespace {

QString g_launcher;
int g_pending = 0;

QString Launcher() { return g_launcher.isEmpty() ? QStringLiteral("xdg-open") : g_launcher; }

void ReportCannotOpen(const QString &text) { CurrentDialogs().ShowMessage(nullptr, ApplicationTitle(), text); }

// Starts the launcher and learns its outcome from the event loop, so the
// user interface never waits for it (or for a viewer it runs in the
// foreground). The process deletes itself once the outcome is known.
void LaunchDocument(const QString &path)
{
    const QString program = Launcher();
    auto *process = new QProcess;
    // Like a detached start: the launcher and any viewer it runs share our
    // output instead of filling buffers nobody reads.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    ++g_pending;
    auto settle = [process](const QString &failure) {
        QObject::disconnect(process, nullptr, nullptr, nullptr);
        process->deleteLater();
        if (!failure.isEmpty())
            ReportCannotOpen(failure);
        --g_pending;
    };
    QObject::connect(process, &QProcess::errorOccurred, [=](QProcess::ProcessError error) {
        // A crash is also reported by finished; only a failed start ends here.
        if (error == QProcess::FailedToStart)
            settle(QStringLiteral("Could not open \"%1\": the desktop's document opener \"%2\" "
                                  "could not be started. Install xdg-utils and a PDF viewer "
                                  "(for example evince or okular) and try again.")
                       .arg(path, program));
    });
    QObject::connect(process, &QProcess::finished, [=](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0)
            settle({});
        else
            settle(QStringLiteral("Could not open \"%1\": no program for PDF documents was found. "
                                  "Install a PDF viewer (for example evince or okular) and try again.")
                       .arg(path));
    });
    process->start(program, {path});
}

} // namespace

void SetDocumentLauncher(const QString &program) { g_launcher = program; }

QString HelpFilePath(const QString &programFolder)
{
    const QString folder = programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
    const QString beside = folder + QLatin1Char('/') + HelpFileName;
    // An installed program lives in <prefix>/bin and its documentation in
    // <prefix>/share/doc/q274tc; a copy beside the program still wins.
    const QString installed = QDir::cleanPath(folder + QStringLiteral("/../share/doc/q274tc/") + HelpFileName);
    if (!QFileInfo(beside).isFile() && QFileInfo(installed).isFile())
        return installed;
    return beside;
}

void ShowHelp(const QString &programFolder)
{
    const QString path = HelpFilePath(programFolder);
    if (QFileInfo(path).isFile()) {
        LaunchDocument(path);
        return;
    }
    // No parent: the message is centred on the screen.
    CurrentDialogs().ShowMessage(nullptr, ApplicationTitle(),
                                 QStringLiteral("Help file \"") + HelpFileName + QStringLiteral("\" not found."));
}

int PendingDocumentLaunches() { return g_pending; }

} // namespace q274
