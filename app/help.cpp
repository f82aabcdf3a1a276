#include "help.h"

#include "dialogs.h"
#include "shellrules.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>

namespace q274 {

namespace {
DocumentOpener g_opener;
}

void SetDocumentOpener(DocumentOpener opener)
{
    g_opener = std::move(opener);
}

QString HelpFilePath(const QString &programFolder)
{
    const QString folder = programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
    return folder + QLatin1Char('/') + HelpFileName;
}

void ShowHelp(const QString &programFolder)
{
    const QString path = HelpFilePath(programFolder);
    if (QFileInfo(path).isFile()) {
        const QUrl url = QUrl::fromLocalFile(path);
        if (g_opener)
            g_opener(url);
        else
            QDesktopServices::openUrl(url);
        return;
    }
    // No parent: the message is centred on the screen.
    CurrentDialogs().ShowMessage(nullptr, ApplicationTitle(),
                                 QStringLiteral("Help file \"") + HelpFileName + QStringLiteral("\" not found."));
}

} // namespace q274
