// Saving the journals of sessions that ended without a normal exit (a crash,
// a kill, a power cut) as log files, at the next start.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

namespace q274 {

struct RecoveryReport {
    QStringList Saved;  // the log files written
    QStringList Errors; // one message per journal kept for the next start
};

// Saves every journal in stateFolder that nobody holds, and that is a plain
// file of this user, as a new file in logFolder named after the journal's
// last change: Q274TC_recovered_<date>_<time>.log, with "-2", "-3", ... when
// the name is taken. The copy streams (memory stays small whatever the
// journal's size), gets mode 0600 like the journal, and only once it is on
// the disk is the journal removed. Empty journals are removed. Safe to run
// off the user-interface thread.
RecoveryReport RecoverJournals(const QString &stateFolder, const QString &logFolder, const QLocale &locale,
                               qint64 ownPid);

} // namespace q274
