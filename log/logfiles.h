// Log file names, the autosave clock and safe writing of the log view.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

#include <stdexcept>
#include <string>

namespace q274 {

// The date in the short date format (four-digit year), every date separator
// replaced by "-": "10-25-2008".
QString LogFileDatePart(const QDate &date, const QLocale &locale);
// "hh-mm-ss", 24-hour: "15-49-36".
QString LogFileTimePart(const QTime &time);
// "Q274TC_10-25-2008_15-49-36", without extension (the save dialog adds it).
QString ManualLogName(const QDate &date, const QTime &time, const QLocale &locale);
// folder + "/" + the name above + ".log".
QString AutosaveFileName(const QString &folder, const QDate &date, const QTime &time, const QLocale &locale);

// The autosave interval in days for its name ("1h" .. "24h"); 1.0 for any
// other name. Names are compared exactly.
double AutosaveIntervalDays(const QString &name);
// At least intervalDays have passed from last to now.
bool AutosaveDue(const QDateTime &now, const QDateTime &last, double intervalDays);

// The user's documents folder + "/Q274"; the home folder + "/Q274" when no
// documents folder is known.
// The special folder with that number (5: the user's documents folder).
// Stores the path and returns true when it can be determined (the folder
// exists); otherwise path is left as it was.
inline constexpr int CSIDL_PERSONAL = 5;
bool GetSpecialFolderPath(int folder, QString &path);

QString LogFolderPath();
// Creates the folder (one level) when missing; a failure is ignored, the
// result only tells whether the folder exists now.
bool EnsureLogFolder(const QString &path);

// The bytes of a log file: every line of the view text ended by CR LF, in the
// locale's 8-bit encoding, no byte-order mark. A line break at the very end
// does not add an empty line.
QByteArray LogFileBytes(const QString &viewText);
// The same bytes for the log's lines joined with CR LF (TLogModel::Text()),
// made straight from the lines without that text.
QByteArray LogFileBytesFromLines(const QStringList &lines);

class LogFileError : public std::runtime_error {
public:
    explicit LogFileError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// Writes the view text to path, creating the file or replacing it. The bytes
// go to a temporary file in the same folder, reach the disk and then take the
// place of the target, so a failure never damages an existing file and
// leaves nothing behind. A symbolic link is followed to the file it names
// (created when missing), which is replaced in its own folder; the link
// stays. A link another user made in a shared (world-writable, sticky)
// folder is refused, as the kernel refuses it. An existing file the user may
// not write is refused, and a replaced file keeps its permission bits.
// Throws LogFileError naming the path and the reason.
void WriteLogFile(const QString &path, const QString &viewText);
// The same safe save for the log's lines (TLogModel::Lines()): the bytes of
// LogFileBytesFromLines, encoded and written a megabyte at a time, so the
// log is never copied whole.
void WriteLogFileLines(const QString &path, const QStringList &lines);
// The same safe save for bytes already in log file form.
void WriteLogFileBytes(const QString &path, const QByteArray &bytes);
// For names the program picks itself (the autosave): the file is always a
// new one, path or path with "-2", "-3", ... before ".log" when the name is
// taken; nothing there is replaced or followed. Returns the path written.
QString WriteNewLogFile(const QString &path, const QString &viewText);
QString WriteNewLogFileBytes(const QString &path, const QByteArray &bytes);

} // namespace q274
