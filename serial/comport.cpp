#include "comport.h"

#include "comportdetail.h"
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

using namespace comdetail;

namespace {

std::mutex g_editMutex;
std::function<void(TCustomComPort &)> g_editHandler;

// Hands an error to the application's general error handler.
void ReportLater(std::exception_ptr e)
{
    UiSync::Post([e] { std::rethrow_exception(e); });
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
        ReportLater(std::current_exception());
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
            ReportLater(std::current_exception());
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

void TCustomComPort::SetBaudRate(TBaudRate v)
{
    if (FBaudRate == v)
        return;
    FBaudRate = v;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int v)
{
    if (FCustomBaudRate == v)
        return;
    FCustomBaudRate = v;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits v)
{
    if (FDataBits == v)
        return;
    FDataBits = v;
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits v)
{
    if (FStopBits == v)
        return;
    FStopBits = v;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool v)
{
    if (FDiscardNull == v)
        return;
    FDiscardNull = v;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char v)
{
    if (FEventChar == v)
        return;
    FEventChar = v;
    ApplyLineSettings();
}

void TCustomComPort::SetEvents(TComEvents v)
{
    FEvents = TComEvents(v & kAllComEvents); // takes effect at the next open
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
    if (tcsetattr(FHandle, TCSANOW, &cfg.Tio) != 0)
        throw EComPort(CError_SetStateFailed, errno);
    if (cfg.OtherRate) {
        const int e = SetOtherBaudRate(FHandle, cfg.Rate);
        if (e != 0)
            throw EComPort(CError_SetStateFailed, e);
    }
    auto line = [this](TLineAction action, int bit) {
        if (action == TLineAction::Leave)
            return;
        int bits = bit;
        if (ioctl(FHandle, action == TLineAction::Raise ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !NotSupported(errno))
            throw EComPort(CError_SetStateFailed, errno);
    };
    line(cfg.Dtr, TIOCM_DTR);
    line(cfg.Rts, TIOCM_RTS);
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
    if (ioctl(fd, TIOCEXCL) != 0 && !NotSupported(errno))
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
    UiSync::Post([alive, this, generation] {
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

} // namespace q274
