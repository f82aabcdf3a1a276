// A copy of the log on disk while it grows, so that a crash, a kill or a
// power cut costs at most the last second of it. One journal per running
// program, under a name nobody can guess ahead and held by a lock while the
// program lives; a normal end removes it, and the next start saves a journal
// that nobody holds as a recovered log file.
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

    // Opens the journal folder, creating it for this user alone (0700). A
    // folder another user owns is refused; one of ours that others may write
    // is closed to them first. Returns the folder's descriptor; throws
    // LogFileError saying why the journal stays off.
    static int OpenFolder(const QString &folder);

    TJournal(const QString &folder, qint64 pid);
    ~TJournal();
    TJournal(const TJournal &) = delete;
    TJournal &operator=(const TJournal &) = delete;

    // The journal now in use; empty before the first Restart.
    QString Path() const { return FPath; }

    // Starts a new journal holding these lines (the view after a restart)
    // and only then lets the previous one go, so a failure keeps the old one.
    // Throws LogFileError.
    void Restart(const QStringList &lines);
    // Appends one line, handed to the system at once. Throws LogFileError.
    void Append(const QString &line);
    // Puts what was appended since the last call on the disk.
    void Sync();
    bool SyncPending() const { return FUnsynced; }
    // The normal end: the journal is not needed any more.
    void Remove();

    // The names of the journals in the folder that no live program holds and
    // that are plain files of this user.
    static QStringList Orphans(const QString &folder, qint64 ownPid);
    // Opens such a journal for reading, locked so that no other starting
    // program recovers it as well; -1 when it is held, gone, a link, or not
    // a plain file of this user.
    static int OpenOrphan(int folderFd, const QString &name);

private:
    void Write(const QByteArray &bytes);
    void Close();
    // Closes a long journal already unlinked: its last close frees its
    // blocks, which for a day's log takes longer than a frame, so it happens
    // on a thread of its own.
    void CloseLater();

    QString FFolder;
    qint64 FPid;
    int FFolderFd = -1;
    QString FPath;
    QByteArray FName;
    int FFd = -1;
    bool FUnsynced = false;
    std::thread FCloser;
};

} // namespace q274
