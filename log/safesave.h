// Writing a file so that a failure never damages what was there: the bytes
// go to a new file beside the target, reach the disk, and only then take the
// target's name. Used by the log file writers; not for the window.
#pragma once

#include <QString>

#include <functional>
#include <sys/types.h>

namespace q274 {

// A write into the new file failed with this errno (thrown by a fill).
struct WriteFailed {
    int Error;
};

// Writes the bytes of an open, empty file; throws WriteFailed.
using FileFill = std::function<void(int fd)>;

// The save of a name the user gave: an existing file is replaced and keeps
// its permission bits. A link is followed only where the kernel would follow
// it in a shared folder: a link of this user, or of the folder's owner, or in
// a folder that is not world-writable with the sticky bit. Throws
// LogFileError naming the path and the reason.
void ReplaceFile(const QString &path, const FileFill &fill);

// A file of the program's own choosing: path, or path with "-2", "-3", ...
// before its extension when the name is taken. Nothing already there is
// replaced or followed. New files get mode (less the umask). Returns the
// path written; throws LogFileError.
QString CreateNewFile(const QString &path, mode_t mode, const FileFill &fill);

} // namespace q274
