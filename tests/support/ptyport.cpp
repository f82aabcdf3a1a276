#include "ptyport.h"

#include "mainwindow.h"

#include <QFile>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace q274test {

Pty::Pty()
{
    char name[256] = {};
    if (::openpty(&FBoard, &FKeeper, name, nullptr, nullptr) != 0)
        throw std::runtime_error("no pseudo-terminal");
    ::fcntl(FBoard, F_SETFD, FD_CLOEXEC);
    ::fcntl(FKeeper, F_SETFD, FD_CLOEXEC);
    termios t{};
    ::tcgetattr(FKeeper, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FKeeper, TCSANOW, &t);
    FPath = QFile::decodeName(name);
}

Pty::~Pty()
{
    ::close(FKeeper);
    ::close(FBoard);
}

void ConnectThrough(q274::TfrmMain &window, const Pty &pty)
{
    q274::TdmQ274 &dm = *window.Connection();
    dm.ComPort()->SetPort(pty.Path());
    window.btnConnClick();
    if (!dm.ComPort()->Connected())
        throw std::runtime_error("the port did not open on " + pty.Path().toStdString());
    dm.StopWatchdog();
}

} // namespace q274test
