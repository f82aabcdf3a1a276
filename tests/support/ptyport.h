// A board's end of a serial line for the window's tests: a pseudo-terminal
// the window's port opens, and the window connected through it, so that the
// port is really open and everything that asks for it sees so.
#pragma once

#include <QString>

namespace q274 {
class TfrmMain;
}

namespace q274test {

// A pseudo-terminal pair (openpty(3)). The port opens Path(); nothing answers
// on the board's side. A descriptor of the device's side stays open, so
// closing the port is not a hang-up and the port can open it again.
class Pty {
public:
    Pty(); // throws std::runtime_error when the system gives none
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    QString Path() const { return FPath; }

private:
    int FBoard = -1;
    int FKeeper = -1;
    QString FPath;
};

// Connects the window through pty as its Connect button does (the connection
// logs its lines and sends "?"). Nothing answers, so the reply watchdog is
// stopped: the port stays open for as long as the test runs. Throws when the
// port does not open.
void ConnectThrough(q274::TfrmMain &window, const Pty &pty);

} // namespace q274test
