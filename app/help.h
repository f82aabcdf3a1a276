// The help document "Q274TC.pdf" beside the program file or in its installed
// documentation folder, opened in the desktop's viewer for PDF files.
#pragma once

#include <QString>

namespace q274 {

inline const QString HelpFileName = QStringLiteral("Q274TC.pdf");

// The program that hands a file to the desktop's viewer: "xdg-open" unless
// another is installed (tests install fakes; an empty name restores it). It
// gets the file's path as its only argument and ends with code 0 once a
// viewer has it, with another code when the desktop could not open the file.
void SetDocumentLauncher(const QString &program);

// The help file's path for a program in programFolder (empty: the program's
// folder): beside the program, else ../share/doc/q274tc/ when it is there
// (an installed program), else the path beside the program.
QString HelpFilePath(const QString &programFolder = {});

// Opens the help file, or shows 'Help file "Q274TC.pdf" not found.' titled
// with the application title when it is missing. Never waits for the
// launcher: when it cannot be started or reports failure, a plain message
// with the same title names the file and what to install.
void ShowHelp(const QString &programFolder = {});

// Launches whose outcome has not arrived yet.
int PendingDocumentLaunches();

} // namespace q274
