// The help document "Q274TC.pdf" beside the program file, opened in the
// desktop's viewer for PDF files.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace q274 {

inline const QString HelpFileName = QStringLiteral("Q274TC.pdf");

// Hands a document to the desktop's viewer without waiting for it.
// Tests install another; an empty function restores QDesktopServices.
using DocumentOpener = std::function<bool(const QUrl &)>;
void SetDocumentOpener(DocumentOpener opener);

// The help file's path in programFolder (empty: the program's folder).
QString HelpFilePath(const QString &programFolder = {});

// Opens the help file, or shows 'Help file "Q274TC.pdf" not found.' titled
// with the application title when it is missing. The outcome of opening is
// not checked.
void ShowHelp(const QString &programFolder = {});

} // namespace q274
