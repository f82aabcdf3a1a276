// q274-board-sim: plays the Q274 board on a pseudo-terminal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "options.h"
#include "session.h"

using namespace q274;

namespace {

const char *const programName = "q274-board-sim";
int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

int fail(const std::string &what)
{
    std::fprintf(stderr, "%s: %s: %s\n", programName, what.c_str(), std::strerror(errno));
    return 1;
}

int timeoutMs(SimTime now, SimTime until)
{
    if (until <= now)
        return 0;
    // Round up, so we never wake just before the deadline and spin.
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(until - now).count();
    const long long ms = (us + 999) / 1000;
    return ms > 60000 ? 60000 : static_cast<int>(ms);
}

// Removes the link at exit, but only while it still points to our device:
// another simulator may have taken the name over meanwhile.
struct LinkGuard {
    std::string link, target;
    ~LinkGuard()
    {
        if (link.empty())
            return;
        char buf[4096];
        const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
        if (n >= 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
            ::unlink(link.c_str());
    }
};

struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

bool makeLink(const std::string &link, const std::string &target)
{
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST; // a real file there is not ours to remove
            return false;
        }
        if (::unlink(link.c_str()) != 0 && errno != ENOENT)
            return false;
    }
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    const SimTime start = SimClock::now();
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.action == ParsedOptions::Action::Help) {
        std::fputs(helpText(programName).c_str(), stdout);
        return 0;
    }
    if (parsed.action == ParsedOptions::Action::Version) {
        std::printf("%s %s\n", programName, Q274_VERSION);
        return 0;
    }
    if (parsed.action == ParsedOptions::Action::Error) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for the list of options.\n", programName, parsed.error.c_str(),
                     programName);
        return 2;
    }
    const SimOptions &opt = parsed.options;

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Fd master, slave;
    master.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master.fd < 0)
        return fail("posix_openpt");
    if (::grantpt(master.fd) != 0 || ::unlockpt(master.fd) != 0)
        return fail("grantpt/unlockpt");
    char pathBuf[256];
    if (::ptsname_r(master.fd, pathBuf, sizeof pathBuf) != 0)
        return fail("ptsname");
    const std::string path = pathBuf;

    // Our own slave descriptor keeps the line up while the program closes and
    // reopens the port; without it the master would see a hang-up.
    slave.fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave.fd < 0)
        return fail("open " + path);
    struct termios tio;
    if (::tcgetattr(slave.fd, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(slave.fd, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(master.fd, F_GETFL);
    if (flags < 0 || ::fcntl(master.fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");

    Tracer tracer(start);
    if (!opt.trace.empty() && !tracer.open(opt.trace))
        return fail("trace file " + opt.trace);

    LinkGuard linkGuard;
    if (!opt.link.empty()) {
        if (!makeLink(opt.link, path))
            return fail("link " + opt.link);
        linkGuard.link = opt.link;
        linkGuard.target = path;
    }

    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    Session session(opt, start);
    std::deque<OutPiece> writing; // due pieces the pty has not taken yet
    const auto tickPeriod = std::chrono::milliseconds(1000);
    SimTime nextTick = start + tickPeriod;
    long repliesSent = 0;
    std::optional<SimTime> hangupAt;
    if (opt.hangupAfterS)
        hangupAt =
            start + std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(*opt.hangupAfterS));

    auto trace = [&](const std::vector<std::string> &commands, SimTime now) {
        for (const auto &c : commands)
            tracer.write(now, "RX", c);
    };

    for (;;) {
        SimTime now = SimClock::now();
        if (hangupAt && now >= *hangupAt) {
            // The line goes dead for whoever has the device open.
            slave.reset();
            master.reset();
            return 0;
        }
        trace(session.expire(now), now);
        if (now >= nextTick) {
            session.tick(now);
            nextTick = now + tickPeriod;
        }
        for (auto &piece : session.takeDue(now))
            writing.push_back(std::move(piece));

        while (!writing.empty()) {
            OutPiece &piece = writing.front();
            const ssize_t n = ::write(master.fd, piece.bytes.data(), piece.bytes.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN)
                    break; // wait for POLLOUT
                return fail("write");
            }
            piece.bytes.erase(0, static_cast<std::size_t>(n));
            if (!piece.bytes.empty())
                continue;
            const bool lineDone = piece.endsLine;
            if (lineDone)
                tracer.write(SimClock::now(), "TX", piece.line);
            writing.pop_front();
            if (lineDone && opt.hangupAfterReplies && ++repliesSent >= *opt.hangupAfterReplies) {
                slave.reset();
                master.reset();
                return 0;
            }
        }

        SimTime wake = nextTick;
        if (auto d = session.nextDeadline(); d && *d < wake)
            wake = *d;
        if (hangupAt && *hangupAt < wake)
            wake = *hangupAt;

        pollfd fds[2] = {{master.fd, static_cast<short>(POLLIN | (writing.empty() ? 0 : POLLOUT)), 0},
                         {signalPipe[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, timeoutMs(SimClock::now(), wake));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return fail("poll");
        }
        if (fds[1].revents)
            return 0; // SIGINT, SIGTERM or SIGHUP: the guards clean up
        if (fds[0].revents & POLLIN) {
            char buf[512];
            const ssize_t n = ::read(master.fd, buf, sizeof buf);
            if (n > 0) {
                now = SimClock::now();
                trace(session.receive(std::string_view(buf, static_cast<std::size_t>(n)), now), now);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return fail("read");
            }
        } else if (fds[0].revents & (POLLERR | POLLNVAL)) {
            errno = EIO;
            return fail("pseudo-terminal");
        }
    }
}
