#include "portlist.h"

#include "comerrors.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace q274 {

namespace {

std::string Join(const QString &root, const char *rel)
{
    QString r = root.isEmpty() ? QStringLiteral("/") : root;
    if (!r.endsWith(QLatin1Char('/')))
        r += QLatin1Char('/');
    return (r + QLatin1String(rel)).toStdString();
}

// Entry names of a folder; false with errno set when it cannot be read.
bool ReadFolder(const std::string &path, std::vector<std::string> &names)
{
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    for (;;) {
        errno = 0;
        const dirent *e = ::readdir(dir);
        if (!e)
            break;
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int err = errno;
    ::closedir(dir);
    errno = err;
    return err == 0;
}

bool HasEntry(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A serial-core port (8250 and friends) with type 0 is a placeholder the
// driver registered without finding a UART: opening it fails or hangs.
bool IsPhantomPort(const std::string &entry)
{
    std::ifstream in(entry + "/type");
    if (!in)
        return false;
    std::string type;
    in >> type;
    return in && type == "0";
}

std::mutex g_listerMutex;
SerialPortLister g_lister;

} // namespace

QStringList ListSerialPorts(const QString &root)
{
    QStringList ports;

    const std::string ttyRoot = Join(root, "sys/class/tty");
    std::vector<std::string> names;
    if (!ReadFolder(ttyRoot, names))
        throw EComPort(CError_RegError, errno);
    for (const std::string &name : names) {
        const std::string entry = ttyRoot + "/" + name;
        if (!HasEntry(entry + "/device") || IsPhantomPort(entry))
            continue;
        ports << QString::fromStdString(name);
    }

    // Missing when no USB serial adapter is plugged in; that is not an error.
    std::vector<std::string> byId;
    if (ReadFolder(Join(root, "dev/serial/by-id"), byId)) {
        for (const std::string &name : byId)
            ports << QStringLiteral("/dev/serial/by-id/") + QString::fromStdString(name);
    }

    std::sort(ports.begin(), ports.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

QStringList SystemSerialPorts()
{
    SerialPortLister lister;
    {
        std::lock_guard<std::mutex> g(g_listerMutex);
        lister = g_lister;
    }
    return lister ? lister() : ListSerialPorts();
}

void SetSerialPortLister(SerialPortLister lister)
{
    std::lock_guard<std::mutex> g(g_listerMutex);
    g_lister = std::move(lister);
}

} // namespace q274
