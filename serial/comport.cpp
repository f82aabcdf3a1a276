#include "comport.h"

#include "comthread.h"
#include "termiosmap.h"
#include "uisync.h"

#include <linux/serial.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace q274 {
namespace {

std::mutex g_editMutex;
std::function<void(TCustomComPort &)> g_editHandler;

// ioctl results that mean "this device has no such thing" (ptys, some adapters).
bool notSupported(int e) { return e == ENOTTY || e == EINVAL; }

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0.
int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 1000000000 ? 1000000000 : int(left);
}

// Hands an error to the application's general error handler.
void reportLater(std::exception_ptr e)
{
    UiSync::post([e] { std::rethrow_exception(e); });
}

} // namespace

TCustomComPort::TCustomComPort(QObject *owner) : QObject(owner) {}

TCustomComPort::~TCustomComPort()
{
    CloseOnDestroy();
    FAlive.reset();
}

TComPort::~TComPort() { CloseOnDestroy(); }

void TCustomComPort::CloseOnDestroy() noexcept
{
    try {
        ClosePort();
    } catch (...) {
        // A destructor must not throw; the fault still reaches the
        // general error handler.
        reportLater(std::current_exception());
    }
    ForceRelease();
}

void TCustomComPort::ForceRelease() noexcept
{
    if (FEventThread) {
        FEventThread->Stop();
        FEventThread.reset();
    }
    FThreadCreated = false;
    if (FHandle >= 0 || FCancelFd >= 0) {
        try {
            CloseDevice();
        } catch (...) {
        }
    }
    FConnected = false;
}

void TCustomComPort::SetEditSettingsHandler(std::function<void(TCustomComPort &)> handler)
{
    std::lock_guard<std::mutex> g(g_editMutex);
    g_editHandler = std::move(handler);
}

void TCustomComPort::EditSettings()
{
    std::function<void(TCustomComPort &)> handler;
    {
        std::lock_guard<std::mutex> g(g_editMutex);
        handler = g_editHandler;
    }
    if (handler)
        handler(*this);
}

// ---- loading and Connected ----

void TCustomComPort::BeginLoading() { FLoading = true; }

void TCustomComPort::EndLoading()
{
    if (!FLoading)
        return;
    FLoading = false;
    if (FStoredConnected) {
        FStoredConnected = false;
        try {
            OpenPort();
        } catch (...) {
            reportLater(std::current_exception());
        }
    }
}

void TCustomComPort::SetConnected(bool v)
{
    if (FLoading) {
        FStoredConnected = v;
        return;
    }
    if (v)
        OpenPort();
    else
        ClosePort();
}

// ---- settings of the port itself ----

void TCustomComPort::SetPort(const QString &v)
{
    if (v == FPort)
        return;
    FPort = v;
    if (FConnected && !FLoading) {
        ClosePort();
        OpenPort();
    }
}

#define Q274_LINE_SETTER(Name, Type, Field)                                                                            \
    void TCustomComPort::Set##Name(Type v)                                                                             \
    {                                                                                                                  \
        if (Field == v)                                                                                                \
            return;                                                                                                    \
        Field = v;                                                                                                     \
        ApplyLineSettings();                                                                                           \
    }

Q274_LINE_SETTER(BaudRate, TBaudRate, FBaudRate)
Q274_LINE_SETTER(CustomBaudRate, int, FCustomBaudRate)
Q274_LINE_SETTER(DataBits, TDataBits, FDataBits)
Q274_LINE_SETTER(StopBits, TStopBits, FStopBits)
Q274_LINE_SETTER(DiscardNull, bool, FDiscardNull)
Q274_LINE_SETTER(EventChar, char, FEventChar)

void TCustomComPort::SetEvents(TComEvents v)
{
    FEvents = TComEvents(v & AllComEvents); // takes effect at the next open
}

void TCustomComPort::SetSyncMethod(TSyncMethod v)
{
    if (v == FSyncMethod)
        return;
    if (FConnected && !FLoading)
        throw EComPort(CError_ConnChangeProp);
    FSyncMethod = v;
}

// ---- apply steps ----

bool TCustomComPort::SettingsApplicable() const { return FConnected && FHandle >= 0 && FUpdateCount == 0 && !FLoading; }

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyBufferSizes()
{
    // Linux has no driver queue sizes; they are kept for the rx-80%-full
    // event and succeed.
    if (!SettingsApplicable())
        return;
}

void TCustomComPort::ApplyTimeoutSettings()
{
    // The time-outs are used by each transfer; nothing reaches the driver.
    if (!SettingsApplicable())
        return;
}

void TCustomComPort::ApplyLineSettings()
{
    if (!SettingsApplicable())
        return;
    struct termios cur {};
    if (tcgetattr(FHandle, &cur) != 0)
        throw EComPort(CError_SetStateFailed, errno);
    const TTermiosConfig cfg = BuildTermios(LineSettingsOf(*this), cur);
    if (tcsetattr(FHandle, TCSANOW, &cfg.tio) != 0)
        throw EComPort(CError_SetStateFailed, errno);
    if (cfg.otherRate) {
        const int e = SetOtherBaudRate(FHandle, cfg.rate);
        if (e != 0)
            throw EComPort(CError_SetStateFailed, e);
    }
    auto line = [this](TLineAction action, int bit) {
        if (action == TLineAction::Leave)
            return;
        int bits = bit;
        if (ioctl(FHandle, action == TLineAction::Raise ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !notSupported(errno))
            throw EComPort(CError_SetStateFailed, errno);
    };
    line(cfg.dtr, TIOCM_DTR);
    line(cfg.rts, TIOCM_RTS);
}

void TCustomComPort::BeginSettingsUpdate() { ++FUpdateCount; }

void TCustomComPort::EndSettingsUpdate()
{
    if (FUpdateCount <= 0)
        return;
    if (--FUpdateCount == 0)
        ApplyAllSettings();
}

// ---- device ----

void TCustomComPort::OpenDevice()
{
    const std::string path = DevicePathForPort(FPort);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FHandle = -1;
        throw EComPort(CError_OpenFailed, errno);
    }
    auto fail = [&](int e) {
        ::close(fd);
        FHandle = -1;
        throw EComPort(CError_OpenFailed, e);
    };
    // No sharing: flock holds against every other opener, TIOCEXCL against
    // programs that do not lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(errno);
    if (ioctl(fd, TIOCEXCL) != 0 && !notSupported(errno))
        fail(errno);
    // A fresh tty edits lines and echoes. Go raw at once, so nothing is echoed
    // or translated even while an update bracket holds the line settings back.
    struct termios raw {};
    if (tcgetattr(fd, &raw) != 0)
        fail(errno);
    MakeRawLine(raw);
    if (tcsetattr(fd, TCSANOW, &raw) != 0)
        fail(errno);
    const int cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd < 0)
        fail(errno);
    FHandle = fd;
    FCancelFd = cancelFd;
}

void TCustomComPort::CloseDevice()
{
    if (FHandle >= 0) {
        ioctl(FHandle, TIOCNXCL);
        ::close(FHandle);
        FHandle = -1;
    }
    if (FCancelFd >= 0) {
        ::close(FCancelFd);
        FCancelFd = -1;
    }
}

bool TCustomComPort::DeviceHungUp() const
{
    if (FHandle < 0)
        return false;
    struct pollfd p {
        FHandle, 0, 0
    };
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool TCustomComPort::NoteHangUp(int e)
{
    // A tty answers every call with EIO once it has been hung up.
    if (e != EIO && !DeviceHungUp())
        return false;
    FHungUp = true;
    return true;
}

// ---- open and close ----

void TCustomComPort::OpenPort()
{
    if (FConnected)
        return;
    DoBeforeOpen();
    OpenDevice();
    FConnected = true;
    const unsigned generation = ++FGeneration;
    FCloseRequested = false;
    FClosePosted = false;
    FHungUp = false;
    FHangUpReported = false;
    FInputCarry.clear();
    {
        std::lock_guard<std::mutex> g(FErrorMutex);
        FLastCounters = {};
        FHaveCounters = ReadLineCounters(FHandle, FLastCounters) == 0;
    }
    try {
        ApplyAllSettings();
        if (FEvents != 0) {
            FEventThread = std::make_unique<TComThread>(*this);
            FEventThread->Start();
            FThreadCreated = true;
        }
    } catch (...) {
        FEventThread.reset();
        FThreadCreated = false;
        CloseDevice();
        FConnected = false;
        throw;
    }
    DoAfterOpen();
    // The after-open handler may have closed the port again.
    if (!FConnected || FGeneration != generation)
        return;
    DoCTSChange((ModemSignals() & msCTS) != 0);
    DoDSRChange((ModemSignals() & msDSR) != 0);
    DoRLSDChange((ModemSignals() & msRLSD) != 0);
}

void TCustomComPort::ClosePort()
{
    if (!FConnected || FClosing)
        return;
    if (FDeliveringThread.load() == std::this_thread::get_id()) {
        // Inside a handler of a batch being delivered: the event thread waits
        // for this handler, so the close must not wait for the thread. It is
        // finished as soon as the delivery has returned.
        FCloseRequested = true;
        return;
    }
    struct ClosingScope {
        bool &flag;
        explicit ClosingScope(bool &f) : flag(f) { flag = true; }
        ~ClosingScope() { flag = false; }
    } closing(FClosing);

    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    CancelTransfers();
    StopThread();
    CloseDevice();
    FConnected = false;
    FCloseRequested = false;
    FClosePosted = false;
    DoAfterClose();
}

void TCustomComPort::StopThread()
{
    if (FEventThread) {
        FEventThread->Stop();
        FEventThread.reset();
    }
    FThreadCreated = false;
}

void TCustomComPort::CancelTransfers()
{
    if (FCancelFd < 0)
        return;
    const std::uint64_t one = 1;
    if (::write(FCancelFd, &one, sizeof one) != ssize_t(sizeof one) && errno != EAGAIN)
        throw EComPort(CError_PurgeFailed, errno);
}

void TCustomComPort::DrainCancel()
{
    std::uint64_t v;
    if (FCancelFd >= 0)
        while (::read(FCancelFd, &v, sizeof v) == ssize_t(sizeof v)) {
        }
}

void TCustomComPort::PostDeferredClose()
{
    if (!FCloseRequested.load() || FClosePosted.exchange(true))
        return;
    std::weak_ptr<int> alive = FAlive;
    const unsigned generation = FGeneration.load();
    UiSync::post([alive, this, generation] {
        if (alive.expired())
            return;
        FinishDeferredClose(generation);
    });
}

void TCustomComPort::FinishDeferredClose(unsigned generation)
{
    FClosePosted = false;
    // A close or reopen from elsewhere meanwhile has settled it already.
    if (FGeneration.load() != generation || !FConnected || !FCloseRequested.load())
        return;
    ClosePort();
}

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
        const int timeout = limited ? msLeft(deadline) : -1;
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
            timeout = msLeft(deadline);
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
    if (now.frame != before.frame)
        errors |= ceFrame;
    if (parityCheck && now.parity != before.parity)
        errors |= ceRxParity;
    if (now.overrun != before.overrun)
        errors |= ceOverrun;
    if (now.brk != before.brk)
        errors |= ceBreak;
    if (now.bufOverrun != before.bufOverrun)
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
            if (!NoteHangUp(e) && !notSupported(e))
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
        if (notSupported(e))
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

// ---- event delivery ----

void TCustomComPort::DeliverEvents(TComEvents Batch)
{
    // Marks this thread as delivering, so a close from a handler is deferred;
    // when the outermost delivery ends, a requested close is queued.
    struct Scope {
        TCustomComPort &p;
        explicit Scope(TCustomComPort &port) : p(port)
        {
            if (p.FDeliveryDepth++ == 0)
                p.FDeliveringThread = std::this_thread::get_id();
        }
        ~Scope()
        {
            if (--p.FDeliveryDepth == 0) {
                p.FDeliveringThread = std::thread::id();
                p.PostDeferredClose();
            }
        }
    } scope(*this);

    try {
        DeliverBatch(Batch);
    } catch (...) {
        // A query, or the handler's own read, that failed because the line
        // hung up is not a failed delivery: the hang-up is reported once as a
        // line error by the event thread, which then stops watching.
        if (!FHungUp.load())
            throw;
    }
}

void TCustomComPort::DeliverBatch(TComEvents Batch)
{
    auto has = [Batch](TComEvent e) { return (Batch & ComEventBit(e)) != 0; };
    // A close asked for by a handler ends the batch.
    auto stopped = [this] { return FCloseRequested.load() || !FConnected; };

    if (stopped())
        return;
    if (has(evError)) {
        const TComErrors errors = TakeLineErrors();
        if (errors)
            DoError(errors);
        if (stopped())
            return;
    }
    if (has(evRxChar)) {
        const int count = PendingInput();
        if (count > 0)
            DoRxChar(count);
        if (stopped())
            return;
    }
    if (has(evTxEmpty)) {
        DoTxEmpty();
        if (stopped())
            return;
    }
    if (has(evBreak)) {
        DoBreak();
        if (stopped())
            return;
    }
    if (has(evRing)) {
        DoRing();
        if (stopped())
            return;
    }
    if (has(evCTS)) {
        DoCTSChange((ModemSignals() & msCTS) != 0);
        if (stopped())
            return;
    }
    if (has(evDSR)) {
        DoDSRChange((ModemSignals() & msDSR) != 0);
        if (stopped())
            return;
    }
    if (has(evRxFlag)) {
        DoRxFlag();
        if (stopped())
            return;
    }
    if (has(evRLSD)) {
        DoRLSDChange((ModemSignals() & msRLSD) != 0);
        if (stopped())
            return;
    }
    if (has(evRx80Full))
        DoRx80Full();
}

void TCustomComPort::DeliverFromThread(TComEvents batch) { DeliverEvents(batch); }

// ---- notification steps ----

void TCustomComPort::DoAfterClose()
{
    if (OnAfterClose)
        OnAfterClose(*this);
}
void TCustomComPort::DoAfterOpen()
{
    if (OnAfterOpen)
        OnAfterOpen(*this);
}
void TCustomComPort::DoBeforeClose()
{
    if (OnBeforeClose)
        OnBeforeClose(*this);
}
void TCustomComPort::DoBeforeOpen()
{
    if (OnBeforeOpen)
        OnBeforeOpen(*this);
}
void TCustomComPort::DoRxChar(int Count)
{
    if (OnRxChar)
        OnRxChar(*this, Count);
}
void TCustomComPort::DoTxEmpty()
{
    if (OnTxEmpty)
        OnTxEmpty(*this);
}
void TCustomComPort::DoBreak()
{
    if (OnBreak)
        OnBreak(*this);
}
void TCustomComPort::DoRing()
{
    if (OnRing)
        OnRing(*this);
}
void TCustomComPort::DoRxFlag()
{
    if (OnRxFlag)
        OnRxFlag(*this);
}
void TCustomComPort::DoCTSChange(bool OnOff)
{
    if (OnCTSChange)
        OnCTSChange(*this, OnOff);
}
void TCustomComPort::DoDSRChange(bool OnOff)
{
    if (OnDSRChange)
        OnDSRChange(*this, OnOff);
}
void TCustomComPort::DoError(TComErrors Errors)
{
    if (OnError)
        OnError(*this, Errors);
}
void TCustomComPort::DoRLSDChange(bool OnOff)
{
    if (OnRLSDChange)
        OnRLSDChange(*this, OnOff);
}
void TCustomComPort::DoRx80Full()
{
    if (OnRx80Full)
        OnRx80Full(*this);
}

} // namespace q274
