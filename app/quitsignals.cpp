#include "quitsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace q274 {

namespace {
int Pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
} // namespace

void TQuitSignals::Handler(int signal)
{
    // Only what is safe in a handler: one byte into the pipe.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(Pipe[1], &byte, 1);
    errno = saved;
}

TQuitSignals::TQuitSignals(std::function<void(int)> onSignal, QObject *parent)
    : QObject(parent), FOnSignal(std::move(onSignal))
{
    if (::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FNotifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(Pipe[0], &byte, 1) == 1)
            if (FOnSignal)
                FOnSignal(byte);
    });
    struct sigaction action {};
    action.sa_handler = &TQuitSignals::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A signal ignored when the program started (nohup, a background job)
    // stays ignored.
    for (const int s : kSignals) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(s, &action, nullptr);
    }
}

TQuitSignals::~TQuitSignals()
{
    for (const int s : kSignals) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == &TQuitSignals::Handler)
            ::signal(s, SIG_DFL);
    }
    delete FNotifier;
    for (int &fd : Pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace q274
