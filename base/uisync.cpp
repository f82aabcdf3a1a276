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
    std::function<void()> Fn;
    bool Blocking = true;
    bool Done = false;        // guarded by State::Mutex
    std::exception_ptr Error; // written with Done, under the mutex; read by the worker after
};

struct State {
    std::mutex Mutex;
    std::condition_variable UiWake;   // the user-interface thread waits here
    std::condition_variable CallDone; // workers wait here
    std::deque<std::shared_ptr<Call>> Queue;
    std::uint64_t WakeSeq = 0;
    bool EventPosted = false;
    std::function<void(std::exception_ptr)> ErrorHandler;
};

State &TheState()
{
    // Never destroyed: exit() can come while workers still wait on CallDone
    // (Qt's X11 plugin calls it when the display goes away), and destroying
    // a condition variable that has waiters blocks for ever, so the program
    // would hang instead of ending.
    static State &s = *new State;
    return s;
}

std::atomic<std::thread::id> g_mainThread{};
// Wakes the user-interface thread's event loop: workers write to this
// eventfd, a socket notifier owned by the user-interface thread reads it.
// Nothing of Qt's is touched from a worker, so no Qt object crosses threads.
std::atomic<int> g_wakeFd{-1};

void PostWakeEvent(State &s)
{
    // One pending wake is enough: it drains the whole queue.
    const int fd = g_wakeFd.load();
    if (s.EventPosted || fd < 0)
        return;
    s.EventPosted = true;
    const std::uint64_t one = 1;
    // Cannot fail short of the counter overflowing, which one pending wake
    // at a time rules out.
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

// Queues call for the user-interface thread and wakes it; returns holding
// the state's lock, so a blocking caller can wait for the call's end.
std::unique_lock<std::mutex> Enqueue(const std::shared_ptr<Call> &call)
{
    State &s = TheState();
    std::unique_lock<std::mutex> lock(s.Mutex);
    s.Queue.push_back(call);
    ++s.WakeSeq;
    s.UiWake.notify_all();
    PostWakeEvent(s);
    return lock;
}

void OnWakeFd(int fd)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
    {
        std::lock_guard<std::mutex> g(TheState().Mutex);
        TheState().EventPosted = false;
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
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd] { OnWakeFd(fd); });
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
    call->Fn = std::move(fn);
    std::unique_lock<std::mutex> lock = Enqueue(call);
    TheState().CallDone.wait(lock, [&] { return call->Done; });
    lock.unlock();
    if (call->Error)
        std::rethrow_exception(call->Error);
}

void UiSync::Post(std::function<void()> fn)
{
    auto call = std::make_shared<Call>();
    call->Fn = std::move(fn);
    call->Blocking = false;
    Enqueue(call);
}

int UiSync::ProcessPending()
{
    State &s = TheState();
    int ran = 0;
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard<std::mutex> g(s.Mutex);
            if (s.Queue.empty())
                break;
            call = s.Queue.front();
            s.Queue.pop_front();
        }
        std::exception_ptr error;
        try {
            call->Fn();
        } catch (...) {
            error = std::current_exception();
        }
        ++ran;
        if (call->Blocking) {
            // Hand the call, and the error with it, over to the waiting
            // worker under the lock: from here on only the worker touches
            // them, so the error object is never shared between threads.
            {
                std::lock_guard<std::mutex> g(s.Mutex);
                call->Error = std::move(error);
                call->Done = true;
                call.reset();
            }
            s.CallDone.notify_all();
            continue;
        }
        call.reset();
        std::function<void(std::exception_ptr)> handler;
        if (error) {
            std::lock_guard<std::mutex> g(s.Mutex);
            handler = s.ErrorHandler;
        }
        if (handler)
            handler(error);
    }
    return ran;
}

void UiSync::WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds recheck)
{
    State &s = TheState();
    for (;;) {
        if (done())
            return;
        std::uint64_t seq;
        {
            std::lock_guard<std::mutex> g(s.Mutex);
            seq = s.WakeSeq;
        }
        if (ProcessPending() > 0)
            continue;
        if (done())
            return;
        std::unique_lock<std::mutex> lock(s.Mutex);
        s.UiWake.wait_for(lock, recheck, [&] { return s.WakeSeq != seq; });
    }
}

void UiSync::Wake()
{
    State &s = TheState();
    {
        std::lock_guard<std::mutex> g(s.Mutex);
        ++s.WakeSeq;
    }
    s.UiWake.notify_all();
}

void UiSync::SetErrorHandler(std::function<void(std::exception_ptr)> handler)
{
    std::lock_guard<std::mutex> g(TheState().Mutex);
    TheState().ErrorHandler = std::move(handler);
}

} // namespace q274
