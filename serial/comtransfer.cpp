// The port's transfers: writing and reading with time-outs, purging, line
// errors and modem signals.
#include "comport.h"

#include "comportdetail.h"

#include <linux/serial.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace q274 {

using namespace comdetail;

// ---- transfers ----

int TCustomComPort::WriteText(const std::string &Str)
{
    if (Str.empty())
        return 0;
    if (FHandle < 0)
        throw EComPort(CError_WriteFailed, EBADF);
    DrainCancel();
    const std::size_t n = Str.size();
    const long long mult = FTimeouts.WriteTotalMultiplier() > 0 ? FTimeouts.WriteTotalMultiplier() : 0;
    const long long cnst = FTimeouts.WriteTotalConstant() > 0 ? FTimeouts.WriteTotalConstant() : 0;
    const bool limited = mult > 0 || cnst > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(mult * (long long)n + cnst);

    std::size_t written = 0;
    while (written < n) {
        const ssize_t r = ::write(FHandle, Str.data() + written, n - written);
        if (r > 0) {
            written += std::size_t(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN) {
            const int e = errno;
            NoteHangUp(e);
            throw EComPort(CError_WriteFailed, e);
        }
        const int timeout = limited ? MsLeft(deadline) : -1;
        if (limited && timeout == 0)
            break; // time-out: a short count, not an error
        struct pollfd p[2] = {{FHandle, POLLOUT, 0}, {FCancelFd, POLLIN, 0}};
        const int pr = ::poll(p, 2, timeout);
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            throw EComPort(CError_WriteFailed, errno);
        }
        if (p[1].revents & POLLIN)
            break; // aborted by a purge or a close
        if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLOUT)) {
            const ssize_t r2 = ::write(FHandle, Str.data() + written, n - written);
            if (r2 > 0) {
                written += std::size_t(r2);
                continue;
            }
            const int e = (r2 < 0 && errno != EAGAIN) ? errno : EIO;
            NoteHangUp(e);
            throw EComPort(CError_WriteFailed, e);
        }
    }
    return int(written);
}

std::string TCustomComPort::FilterInput(std::string raw)
{
    const bool marks = FParity.Check() && FParity.Replace();
    if (!marks && !FDiscardNull && FInputCarry.empty())
        return raw;
    std::string in = FInputCarry + raw;
    FInputCarry.clear();
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (marks && c == '\377') {
            // PARMRK: 0377 0377 is a literal 0377, 0377 0 x a byte received
            // with an error. An incomplete mark waits for the next read.
            if (i + 1 >= in.size()) {
                FInputCarry = in.substr(i);
                break;
            }
            if (in[i + 1] == '\377') {
                out += '\377';
                ++i;
                continue;
            }
            if (in[i + 1] == '\0') {
                if (i + 2 >= in.size()) {
                    FInputCarry = in.substr(i);
                    break;
                }
                out += FParity.ReplaceChar();
                i += 2;
                continue;
            }
        }
        if (FDiscardNull && c == '\0')
            continue;
        out += c;
    }
    return out;
}

int TCustomComPort::ReadText(std::string &Str, int Count)
{
    Str.clear();
    if (Count <= 0)
        return 0;
    if (FHandle < 0)
        throw EComPort(CError_ReadFailed, EBADF);
    DrainCancel();

    const int interval = FTimeouts.ReadInterval();
    const long long mult = FTimeouts.ReadTotalMultiplier() > 0 ? FTimeouts.ReadTotalMultiplier() : 0;
    const long long cnst = FTimeouts.ReadTotalConstant() > 0 ? FTimeouts.ReadTotalConstant() : 0;
    // ReadInterval -1 without totals: return at once with what has arrived.
    const bool immediate = interval < 0 && mult == 0 && cnst == 0;
    const bool totalLimited = mult > 0 || cnst > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(mult * Count + cnst);

    std::string raw(std::size_t(Count), '\0');
    std::size_t got = 0;
    while (got < std::size_t(Count)) {
        const ssize_t r = ::read(FHandle, raw.data() + got, std::size_t(Count) - got);
        if (r > 0) {
            got += std::size_t(r);
            FRxConsumed += std::uint64_t(r);
            continue;
        }
        if (r == 0) {
            // A raw tty (VMIN 1) reads 0 only once it has been hung up.
            NoteHangUp(EIO);
            if (got > 0)
                break; // hand on what came before; the next read fails
            throw EComPort(CError_ReadFailed, EIO);
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            const int e = errno;
            NoteHangUp(e);
            throw EComPort(CError_ReadFailed, e);
        }
        if (immediate || (interval < 0 && got > 0))
            break;
        int timeout = -1;
        if (totalLimited)
            timeout = MsLeft(deadline);
        if (interval > 0 && got > 0)
            timeout = timeout < 0 ? interval : std::min(timeout, interval);
        if (timeout == 0)
            break;
        struct pollfd p[2] = {{FHandle, POLLIN, 0}, {FCancelFd, POLLIN, 0}};
        const int pr = ::poll(p, 2, timeout);
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            throw EComPort(CError_ReadFailed, errno);
        }
        if (pr == 0 || (p[1].revents & POLLIN))
            break;
        if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLIN))
            break;
    }
    raw.resize(got);
    // The queue check after a read also clears the pending line errors.
    {
        int pending = 0;
        if (ioctl(FHandle, FIONREAD, &pending) != 0) {
            const int e = errno;
            if (!NoteHangUp(e))
                throw EComPort(CError_ClearComFailed, e);
            // Hung up: nothing read is a failed read; bytes read before the
            // hang-up are handed on.
            if (got == 0)
                throw EComPort(CError_ReadFailed, e);
        }
        std::lock_guard<std::mutex> g(FErrorMutex);
        LineCounters c;
        if (FHaveCounters && !FHungUp.load() && ReadLineCounters(FHandle, c) == 0)
            FLastCounters = c;
    }
    Str = FilterInput(std::move(raw));
    return int(Str.size());
}

void TCustomComPort::PurgeBuffers(bool Input, bool Output)
{
    if (!Input && !Output)
        return;
    if (FHandle < 0)
        throw EComPort(CError_PurgeFailed, EBADF);
    const int queue = (Input && Output) ? TCIOFLUSH : Input ? TCIFLUSH : TCOFLUSH;
    if (tcflush(FHandle, queue) != 0) {
        const int e = errno;
        // A hung-up device has no queues left to discard; failing here would
        // keep a vanished adapter from ever being closed.
        if (!NoteHangUp(e))
            throw EComPort(CError_PurgeFailed, e);
    }
    if (Input) {
        FInputCarry.clear();
        FRxResync = true;
    }
}

int TCustomComPort::PendingInput()
{
    if (FHandle < 0)
        throw EComPort(CError_ClearComFailed, EBADF);
    int n = 0;
    if (ioctl(FHandle, FIONREAD, &n) != 0) {
        const int e = errno;
        NoteHangUp(e);
        throw EComPort(CError_ClearComFailed, e);
    }
    {
        // Asking how much is waiting also takes the line-error counters as
        // seen: errors already counted are not reported again by the next check.
        std::lock_guard<std::mutex> g(FErrorMutex);
        LineCounters c;
        if (FHaveCounters && !FHungUp.load() && ReadLineCounters(FHandle, c) == 0)
            FLastCounters = c;
    }
    return n + int(FInputCarry.size());
}

TComErrors LineErrorsBetween(const LineCounters &before, const LineCounters &now, bool parityCheck)
{
    // Any change counts: a counter that wrapped around moved as well.
    TComErrors errors = 0;
    if (now.Frame != before.Frame)
        errors |= ceFrame;
    if (parityCheck && now.Parity != before.Parity)
        errors |= ceRxParity;
    if (now.Overrun != before.Overrun)
        errors |= ceOverrun;
    if (now.Break != before.Break)
        errors |= ceBreak;
    if (now.BufOverrun != before.BufOverrun)
        errors |= ceRxOver;
    return errors;
}

int TCustomComPort::ReadLineCounters(int fd, LineCounters &counters)
{
    struct serial_icounter_struct c {};
    if (ioctl(fd, TIOCGICOUNT, &c) != 0)
        return errno;
    counters = {c.frame, c.parity, c.overrun, c.brk, c.buf_overrun, c.rng};
    return 0;
}

TComErrors TCustomComPort::TakeLineErrors()
{
    if (FHandle < 0)
        throw EComPort(CError_ClearComFailed, EBADF);
    TComErrors errors = 0;
    std::lock_guard<std::mutex> g(FErrorMutex);
    if (FHaveCounters && !FHungUp.load()) {
        LineCounters c;
        if (const int e = ReadLineCounters(FHandle, c); e != 0) {
            if (!NoteHangUp(e) && !NotSupported(e))
                throw EComPort(CError_ClearComFailed, e);
        } else {
            errors |= LineErrorsBetween(FLastCounters, c, FParity.Check());
            FLastCounters = c;
        }
    }
    // Whoever found the hang-up, it is reported here once per session.
    if (FHungUp.load() && !FHangUpReported.exchange(true))
        errors |= ceIO;
    return errors;
}

TModemSignals TCustomComPort::ModemSignals()
{
    if (FHandle < 0)
        throw EComPort(CError_ModemStatFailed, EBADF);
    int lines = 0;
    if (ioctl(FHandle, TIOCMGET, &lines) != 0) {
        const int e = errno;
        if (NotSupported(e))
            return 0; // no modem lines: all off
        NoteHangUp(e);
        throw EComPort(CError_ModemStatFailed, e);
    }
    TModemSignals s = 0;
    if (lines & TIOCM_CTS)
        s |= msCTS;
    if (lines & TIOCM_DSR)
        s |= msDSR;
    if (lines & TIOCM_RNG)
        s |= msRing;
    if (lines & TIOCM_CAR)
        s |= msRLSD;
    return s;
}

} // namespace q274
