// A copy of the log on disk while it grows, so that a crash, a kill or a
// power cut costs at most the last second of it. One journal per running
// program (named after its process id); a normal end removes it, and the next
// start saves a journal whose program is gone as a recovered log file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <thread>

namespace q274 {

class TJournal {
public:
    // $XDG_STATE_HOME/q274, or ~/.local/state/q274.
    static QString DefaultFolder();

    TJournal(const QString &folder, qint64 pid);
    ~TJournal();
    TJournal(const TJournal &) = delete;
    TJournal &operator=(const TJournal &) = delete;

    QString Path() const { return FPath; }

    // Starts the journal over holding these lines (the view after a
    // restart). Throws LogFileError.
    void Restart(const QStringList &lines);
    // Appends one line, handed to the system at once. Throws LogFileError.
    void Append(const QString &line);
    // Puts what was appended since the last call on the disk.
    void Sync();
    bool SyncPending() const { return FUnsynced; }
    // The normal end: the journal is not needed any more.
    void Remove();

    // The journals in folder left by programs that no longer run.
    static QStringList Orphans(const QString &folder, qint64 ownPid);

private:
    void Write(const QByteArray &bytes);
    void Close();
    // Closes a long journal already unlinked: its last close frees its
    // blocks, which for a day's log takes longer than a frame, so it happens
    // on a thread of its own.
    void CloseLater();

    QString FFolder;
    QString FPath;
    int FFd = -1;
    bool FUnsynced = false;
    std::thread FCloser;
};

} // namespace q274
