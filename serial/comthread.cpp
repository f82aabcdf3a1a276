#include "comthread.h"

#include "uisync.h"

#include <linux/serial.h>

#include <array>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace q274 {
namespace {

// Period of the checks that poll() cannot wait for (modem lines, counters,
// the output queue, left-over input).
constexpr int kCheckPeriodMs = 20;

// The order in which the events of one batch are delivered.
constexpr std::array<TComEvent, kComEventCount> kDeliveryOrder = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                                                 evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

} // namespace

TComThread::TComThread(TCustomComPort &port)
    : FPort(port), FFd(port.FHandle), FEvents(port.FEvents), FSyncMethod(port.FSyncMethod),
      FInputSize(port.Buffer().InputSize()), FGeneration(port.FGeneration.load()), FParityCheck(port.Parity().Check())
{
    FStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopFd < 0)
        throw EComPort(CError_OpenFailed, errno);
}

TComThread::~TComThread()
{
    Stop();
    if (FStopFd >= 0)
        ::close(FStopFd);
}

void TComThread::Start() { FThread = std::thread(&TComThread::Execute, this); }

void TComThread::RequestStop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(FStopFd, &one, sizeof one);
}

void TComThread::Stop()
{
    if (!FThread.joinable())
        return;
    RequestStop();
    if (FThread.get_id() == std::this_thread::get_id()) {
        FThread.detach(); // cannot wait for itself; it ends on its own
        return;
    }
    // On the user-interface thread keep running queued hand-offs, so a
    // delivery this thread waits on completes and it can see the stop.
    if (UiSync::IsMainThread())
        UiSync::WaitUntil([this] { return FFinished.load(); });
    FThread.join();
}

void TComThread::Execute()
{
    try {
        Run();
        // What is still queued belongs to the session that is ending. A
        // hung-up line has no queues left: the result is not checked.
        ::tcflush(FFd, TCIOFLUSH);
    } catch (...) {
        // An error raised during a delivery ends the thread; nothing is
        // shown or logged, no further events until the port is reopened.
        FEndedByError = true;
    }
    // Outside any delivery now: a close requested from a handler can finish.
    FFinished = true;
    UiSync::Wake();
}

void TComThread::Dispatch(TComEvents batch)
{
    FLastBatch = batch;
    switch (FSyncMethod) {
    case smThreadSync: UiSync::Synchronize([this, batch] { FPort.DeliverFromThread(batch); }); break;
    case smNone: FPort.DeliverFromThread(batch); break;
    case smWindowSync: {
        // One queued delivery per event; each runs only if the port is still
        // open in the same session, errors go to the general error handler.
        std::weak_ptr<int> alive = FPort.FAlive;
        TCustomComPort *port = &FPort;
        const unsigned generation = FGeneration;
        for (TComEvent e : kDeliveryOrder) {
            const TComEvents bit = ComEventBit(e);
            if (!(batch & bit))
                continue;
            UiSync::Post([alive, port, generation, bit] {
                if (alive.expired() || !port->Connected() || port->FGeneration.load() != generation)
                    return;
                port->DeliverEvents(bit);
            });
        }
        break;
    }
    }
}

void TComThread::Run()
{
    auto wants = [this](TComEvent e) { return (FEvents & ComEventBit(e)) != 0; };
    const bool watchRx = wants(evRxChar) || wants(evRx80Full);
    const bool wantModem = wants(evCTS) || wants(evDSR) || wants(evRLSD) || wants(evRing);
    const bool wantCounters = wants(evError) || wants(evBreak) || wants(evRing);
    const bool wantTx = wants(evTxEmpty);

    int lines = 0;
    const bool hasModem = wantModem && ioctl(FFd, TIOCMGET, &lines) == 0;
    // The counters as the port took them when it opened: an error between the
    // open and this thread's start is still a change.
    LineCounters counters;
    bool hasCounters = false;
    if (wantCounters) {
        std::lock_guard<std::mutex> g(FPort.FErrorMutex);
        hasCounters = FPort.FHaveCounters;
        counters = FPort.FLastCounters;
    }
    int outq = 0;
    const bool hasOutq = wantTx && ioctl(FFd, TIOCOUTQ, &outq) == 0;
    const bool periodic = hasModem || hasCounters || hasOutq;

    // Received bytes so far = bytes taken out by the port + bytes waiting.
    // Only growth beyond what was already reported is a new evRxChar, so
    // bytes a handler leaves unread are not reported again and again.
    std::uint64_t reportedRx = FPort.FRxConsumed.load();
    int waiting = 0;
    bool rx80Reported = false;
    bool recheck = false;
    bool hungUp = false;

    for (;;) {
        // A hang-up found here or by the port (a query or a transfer, also
        // inside a delivery) is reported once as a line error; then the
        // device is no longer watched: a hung-up descriptor would wake poll()
        // forever.
        if (hungUp || FPort.FHungUp.load()) {
            FPort.FHungUp = true;
            if (wants(evError))
                Dispatch(ComEventBit(evError));
            if (FPort.FCloseRequested.load())
                return;
            struct pollfd s {
                FStopFd, POLLIN, 0
            };
            while (::poll(&s, 1, -1) < 0 && errno == EINTR) {
            }
            return;
        }
        const bool leftOver = waiting > 0;
        struct pollfd p[2] = {{FStopFd, POLLIN, 0}, {FFd, short((watchRx && !leftOver) ? POLLIN : 0), 0}};
        int timeout = -1;
        if (periodic || leftOver)
            timeout = kCheckPeriodMs;
        if (recheck)
            timeout = 0;
        recheck = false;
        const int pr = ::poll(p, 2, timeout);
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            return; // a failed wait ends the loop as if stopped
        }
        if (p[0].revents)
            return;
        if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            hungUp = true;

        TComEvents batch = 0;
        if (!hungUp && watchRx) {
            int n = 0;
            if (ioctl(FFd, FIONREAD, &n) != 0) {
                if (errno == EIO)
                    hungUp = true;
                n = 0;
            }
            if (FPort.FRxResync.exchange(false))
                reportedRx = FPort.FRxConsumed.load(); // after a purge: all waiting bytes count as new
            const std::uint64_t arrived = FPort.FRxConsumed.load() + std::uint64_t(n);
            if (arrived > reportedRx) {
                batch |= ComEventBit(evRxChar);
                reportedRx = arrived;
            }
            waiting = n;
            const int threshold = FInputSize * 8 / 10;
            if (threshold > 0 && n >= threshold) {
                if (!rx80Reported)
                    batch |= ComEventBit(evRx80Full);
                rx80Reported = true;
            } else {
                rx80Reported = false;
            }
        }
        if (!hungUp && hasModem) {
            int now = 0;
            if (ioctl(FFd, TIOCMGET, &now) != 0) {
                if (errno == EIO)
                    hungUp = true;
            } else {
                const int changed = now ^ lines;
                if (changed & TIOCM_CTS)
                    batch |= ComEventBit(evCTS);
                if (changed & TIOCM_DSR)
                    batch |= ComEventBit(evDSR);
                if (changed & TIOCM_CAR)
                    batch |= ComEventBit(evRLSD);
                if ((changed & TIOCM_RNG) && !(now & TIOCM_RNG))
                    batch |= ComEventBit(evRing); // end of a ring
                lines = now;
            }
        }
        if (!hungUp && hasCounters) {
            LineCounters c;
            if (const int e = FPort.ReadLineCounters(FFd, c); e != 0) {
                if (e == EIO)
                    hungUp = true;
            } else {
                const TComErrors errors = LineErrorsBetween(counters, c, FParityCheck);
                if (errors & ~ceBreak)
                    batch |= ComEventBit(evError);
                if (errors & ceBreak)
                    batch |= ComEventBit(evBreak);
                if (c.Ring != counters.Ring)
                    batch |= ComEventBit(evRing);
                counters = c;
            }
        }
        if (!hungUp && hasOutq) {
            int q = 0;
            if (ioctl(FFd, TIOCOUTQ, &q) == 0) {
                if (outq > 0 && q == 0)
                    batch |= ComEventBit(evTxEmpty);
                outq = q;
            }
        }

        if (hungUp)
            continue; // reported at the top of the loop

        batch &= FEvents;
        if (batch) {
            Dispatch(batch);
            if (FPort.FCloseRequested.load())
                return;
            // Bytes may have arrived during the delivery: look again at once.
            recheck = true;
        }
    }
}

} // namespace q274
