#include "uisync.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace q274 {
namespace {

struct Call {
    std::function<void()> fn;
    bool blocking = true;
    bool done = false;               // guarded by State::mutex
    std::exception_ptr error;        // written before done, read after
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
std::atomic<QObject *> g_dispatcher{nullptr}; // set once on the user-interface thread

void postWakeEvent(State &s, std::unique_lock<std::mutex> &lock)
{
    // One pending wake event is enough: it drains the whole queue.
    if (s.eventPosted || !QCoreApplication::instance())
        return;
    s.eventPosted = true;
    QObject *target = g_dispatcher.load();
    lock.unlock();
    if (target)
        QMetaObject::invokeMethod(target, [] {
            {
                std::lock_guard<std::mutex> g(state().mutex);
                state().eventPosted = false;
            }
            UiSync::processPending();
        }, Qt::QueuedConnection);
    lock.lock();
}

} // namespace

void UiSync::setMainThread()
{
    g_mainThread.store(std::this_thread::get_id());
    if (QCoreApplication::instance() && !g_dispatcher.load()) {
        auto *dispatcher = new QObject(QCoreApplication::instance());
        dispatcher->setObjectName(QStringLiteral("q274UiSyncDispatcher"));
        QObject::connect(dispatcher, &QObject::destroyed, [] { g_dispatcher.store(nullptr); });
        g_dispatcher.store(dispatcher);
    }
}

bool UiSync::isMainThread()
{
    return g_mainThread.load() == std::this_thread::get_id();
}

void UiSync::synchronize(std::function<void()> fn)
{
    if (isMainThread()) {
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
    postWakeEvent(s, lock);
    s.callDone.wait(lock, [&] { return call->done; });
    lock.unlock();
    if (call->error)
        std::rethrow_exception(call->error);
}

void UiSync::post(std::function<void()> fn)
{
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    call->blocking = false;
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.queue.push_back(call);
    ++s.wakeSeq;
    s.uiWake.notify_all();
    postWakeEvent(s, lock);
}

int UiSync::processPending()
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
        std::function<void(std::exception_ptr)> handler;
        {
            std::lock_guard<std::mutex> g(s.mutex);
            call->error = error;
            call->done = true;
            if (!call->blocking && error)
                handler = s.errorHandler;
        }
        s.callDone.notify_all();
        if (handler)
            handler(error);
    }
    return ran;
}

void UiSync::waitUntil(const std::function<bool()> &done, std::chrono::milliseconds recheck)
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
        if (processPending() > 0)
            continue;
        if (done())
            return;
        std::unique_lock<std::mutex> lock(s.mutex);
        s.uiWake.wait_for(lock, recheck, [&] { return s.wakeSeq != seq; });
    }
}

void UiSync::wake()
{
    State &s = state();
    {
        std::lock_guard<std::mutex> g(s.mutex);
        ++s.wakeSeq;
    }
    s.uiWake.notify_all();
}

void UiSync::setErrorHandler(std::function<void(std::exception_ptr)> handler)
{
    std::lock_guard<std::mutex> g(state().mutex);
    state().errorHandler = std::move(handler);
}

} // namespace q274
