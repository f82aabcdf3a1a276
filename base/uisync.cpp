#include "uisync.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

namespace q274 {
namespace {

struct Call {
    std::function<void()> fn;
    bool blocking = true;
    bool done = false;        // guarded by State::mutex
    std::exception_ptr error; // written with done, under the mutex; read by the worker after
};

struct State {
    std::mutex mutex;
    std::condition_variable uiWake;   // the user-interface thread waits here
    std::condition_variable callDone; // workers wait here
    std::deque<std::shared_ptr<Call>> queue;
    std::uint64_t wakeSeq = 0;
    bool eventPosted = false;
    std::function<void(std::exception_ptr)> errorHandler;
};

State &state()
{
    static State s;
    return s;
}

std::atomic<std::thread::id> g_mainThread{};
// Wakes the user-interface thread's event loop: workers write to this
// eventfd, a socket notifier owned by the user-interface thread reads it.
// Nothing of Qt's is touched from a worker, so no Qt object crosses threads.
std::atomic<int> g_wakeFd{-1};

void postWakeEvent(State &s)
{
    // One pending wake is enough: it drains the whole queue.
    const int fd = g_wakeFd.load();
    if (s.eventPosted || fd < 0)
        return;
    s.eventPosted = true;
    const std::uint64_t one = 1;
    // Cannot fail short of the counter overflowing, which one pending wake
    // at a time rules out.
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void onWakeFd(int fd)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
    {
        std::lock_guard<std::mutex> g(state().mutex);
        state().eventPosted = false;
    }
    UiSync::ProcessPending();
}

} // namespace

void UiSync::SetMainThread()
{
    g_mainThread.store(std::this_thread::get_id());
    if (QCoreApplication::instance() && g_wakeFd.load() < 0) {
        const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd < 0)
            return; // queued calls then run from WaitUntil/ProcessPending only
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
        notifier->setObjectName(QStringLiteral("q274UiSyncWake"));
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd] { onWakeFd(fd); });
        QObject::connect(notifier, &QObject::destroyed, [fd] {
            g_wakeFd.store(-1);
            ::close(fd);
        });
        g_wakeFd.store(fd);
    }
}

bool UiSync::IsMainThread() { return g_mainThread.load() == std::this_thread::get_id(); }

void UiSync::Synchronize(std::function<void()> fn)
{
    if (IsMainThread()) {
        fn();
        return;
    }
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.queue.push_back(call);
    ++s.wakeSeq;
    s.uiWake.notify_all();
    postWakeEvent(s);
    s.callDone.wait(lock, [&] { return call->done; });
    lock.unlock();
    if (call->error)
        std::rethrow_exception(call->error);
}

void UiSync::Post(std::function<void()> fn)
{
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    call->blocking = false;
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.queue.push_back(call);
    ++s.wakeSeq;
    s.uiWake.notify_all();
    postWakeEvent(s);
}

int UiSync::ProcessPending()
{
    State &s = state();
    int ran = 0;
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard<std::mutex> g(s.mutex);
            if (s.queue.empty())
                break;
            call = s.queue.front();
            s.queue.pop_front();
        }
        std::exception_ptr error;
        try {
            call->fn();
        } catch (...) {
            error = std::current_exception();
        }
        ++ran;
        if (call->blocking) {
            // Hand the call, and the error with it, over to the waiting
            // worker under the lock: from here on only the worker touches
            // them, so the error object is never shared between threads.
            {
                std::lock_guard<std::mutex> g(s.mutex);
                call->error = std::move(error);
                call->done = true;
                call.reset();
            }
            s.callDone.notify_all();
            continue;
        }
        call.reset();
        std::function<void(std::exception_ptr)> handler;
        if (error) {
            std::lock_guard<std::mutex> g(s.mutex);
            handler = s.errorHandler;
        }
        if (handler)
            handler(error);
    }
    return ran;
}

void UiSync::WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds recheck)
{
    State &s = state();
    for (;;) {
        if (done())
            return;
        std::uint64_t seq;
        {
            std::lock_guard<std::mutex> g(s.mutex);
            seq = s.wakeSeq;
        }
        if (ProcessPending() > 0)
            continue;
        if (done())
            return;
        std::unique_lock<std::mutex> lock(s.mutex);
        s.uiWake.wait_for(lock, recheck, [&] { return s.wakeSeq != seq; });
    }
}

void UiSync::Wake()
{
    State &s = state();
    {
        std::lock_guard<std::mutex> g(s.mutex);
        ++s.wakeSeq;
    }
    s.uiWake.notify_all();
}

void UiSync::SetErrorHandler(std::function<void(std::exception_ptr)> handler)
{
    std::lock_guard<std::mutex> g(state().mutex);
    state().errorHandler = std::move(handler);
}

} // namespace q274
