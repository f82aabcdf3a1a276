#include "safesave.h"

#include "logfiles.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace q274 {

namespace {

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

[[noreturn]] void Fail(const char *what, const QString &path, const QString &why)
{
    throw LogFileError(QStringLiteral("%1 \"%2\". %3").arg(QLatin1String(what), path, why));
}

[[noreturn]] void Fail(const char *what, const QString &path, int error) { Fail(what, path, Reason(error)); }

// A name next to the target that no other writer uses.
QByteArray TemporaryName(const QByteArray &target)
{
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + QByteArray::number(qint64(::getpid())) + '_' + QByteArray::number(++counter);
}

QByteArray FolderOf(const QByteArray &path)
{
    return QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
}

// Where a save lands. A symbolic link is followed to the end of its chain,
// so the save writes the file the link names and the link stays a link.
struct SaveTarget {
    QByteArray Path; // never a link; the file need not exist yet
    bool Exists = false;
    struct stat St {};
};

// Links another user planted in a shared folder are refused, as the kernel
// refuses them (protected_symlinks): a world-writable sticky folder lets
// anyone add a link but not remove another's.
constexpr int kForeignLink = -1;

bool MayFollow(const QByteArray &link, const struct stat &linkStat)
{
    if (linkStat.st_uid == ::geteuid())
        return true;
    struct stat folder {};
    if (::stat(FolderOf(link).constData(), &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || linkStat.st_uid == folder.st_uid;
}

// 0, kForeignLink, or the errno that stops the save (ELOOP for a chain
// without end).
int ResolveTarget(const QByteArray &requested, SaveTarget &out)
{
    QByteArray current = requested;
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st {};
        if (::lstat(current.constData(), &st) != 0) {
            // A missing file (maybe named by a dangling link) is created.
            if (errno != ENOENT)
                return errno;
            out = {current, false, {}};
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            out = {current, true, st};
            return 0;
        }
        if (!MayFollow(current, st))
            return kForeignLink;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(current.constData(), buf, sizeof buf);
        if (n < 0)
            return errno;
        if (size_t(n) == sizeof buf)
            return ENAMETOOLONG;
        QByteArray next(buf, n);
        // A relative link is read from the link's own folder.
        if (!next.startsWith('/')) {
            const qsizetype slash = current.lastIndexOf('/');
            if (slash >= 0)
                next.prepend(current.left(slash + 1));
        }
        current = next;
    }
    return ELOOP;
}

// The bytes in a new temporary file beside target, on the disk; returns its
// name. Throws LogFileError.
QByteArray WriteTemporary(const QString &path, const QByteArray &target, mode_t mode, const struct stat *keep,
                          const FileFill &fill)
{
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TemporaryName(target);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            Fail("Cannot create file", path, errno);
    }
    if (fd < 0)
        Fail("Cannot create file", path, EEXIST);

    auto abandon = [&](const char *what, int error) {
        ::close(fd);
        ::unlink(temp.constData());
        Fail(what, path, error);
    };
    // A replaced file keeps its permissions.
    if (keep && ::fchmod(fd, keep->st_mode & 07777) != 0)
        abandon("Cannot create file", errno);
    try {
        fill(fd);
    } catch (const WriteFailed &e) {
        abandon("Cannot write file", e.Error);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.constData());
        throw;
    }
    if (::fsync(fd) != 0)
        abandon("Cannot write file", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        Fail("Cannot write file", path, error);
    }
    return temp;
}

// The new directory entry reaches the disk as well.
void SyncFolder(const QByteArray &file)
{
    const int dirFd = ::open(FolderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

// Gives temp the name only when nothing has it: 0, or the errno.
int RenameNew(const QByteArray &temp, const QByteArray &name)
{
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that rename: a second name never replaces.
    if (::link(temp.constData(), name.constData()) != 0)
        return errno;
    ::unlink(temp.constData());
    return 0;
}

} // namespace

void ReplaceFile(const QString &path, const FileFill &fill)
{
    SaveTarget resolved;
    if (const int error = ResolveTarget(QFile::encodeName(path), resolved)) {
        if (error == kForeignLink)
            Fail("Cannot create file", path,
                 QStringLiteral("It is a link another user made in a shared folder, which is not followed."));
        Fail("Cannot create file", path, error);
    }
    const QByteArray &target = resolved.Path;
    if (resolved.Exists && S_ISDIR(resolved.St.st_mode))
        Fail("Cannot create file", path, EISDIR);
    // Replacing by rename asks only the folder's permission; a file the user
    // could not write in place is not replaced either.
    if (resolved.Exists && ::access(target.constData(), W_OK) != 0)
        Fail("Cannot create file", path, errno);

    const QByteArray temp = WriteTemporary(path, target, 0666, resolved.Exists ? &resolved.St : nullptr, fill);
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        Fail("Cannot create file", path, error);
    }
    SyncFolder(target);
}

QString CreateNewFile(const QString &path, mode_t mode, const FileFill &fill)
{
    const QByteArray first = QFile::encodeName(path);
    const QByteArray temp = WriteTemporary(path, first, mode, nullptr, fill);
    const qsizetype dot = first.lastIndexOf('.');
    const bool hasSuffix = dot > first.lastIndexOf('/');
    const QByteArray stem = hasSuffix ? first.left(dot) : first;
    const QByteArray suffix = hasSuffix ? first.mid(dot) : QByteArray();
    QByteArray name = first;
    for (int n = 2;; ++n) {
        const int error = RenameNew(temp, name);
        if (error == 0)
            break;
        if (error != EEXIST || n > 10000) {
            ::unlink(temp.constData());
            Fail("Cannot create file", path, error);
        }
        name = stem + '-' + QByteArray::number(n) + suffix;
    }
    SyncFolder(name);
    return QFile::decodeName(name);
}

} // namespace q274
