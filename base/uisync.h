// The blocking hand-off from worker threads to the user-interface thread.
//
// A worker queues a call and waits until the user-interface thread has run it;
// an exception thrown by the call is carried back and rethrown in the worker.
// The user-interface thread runs queued calls from its Qt event loop and also
// while it waits (WaitUntil) for a thread to finish, so waiting for a worker
// that is itself waiting to hand off can never deadlock.
//
// Only the call queue (guarded by a std::mutex) carries data between threads;
// the Qt event that wakes the event loop carries none.
#pragma once

#include <chrono>
#include <exception>
#include <functional>

namespace q274 {

class UiSync {
public:
    // Records the calling thread as the user-interface thread. Call once at
    // start-up, after the QApplication exists (without one, queued calls run
    // only inside ProcessPending/WaitUntil).
    static void SetMainThread();
    static bool IsMainThread();

    // Runs fn on the user-interface thread and waits until it has run.
    // On the user-interface thread itself fn runs at once. An exception
    // thrown by fn is rethrown here.
    static void Synchronize(std::function<void()> fn);

    // Queues fn for the user-interface thread without waiting. An exception
    // thrown by fn goes to the handler set with SetErrorHandler.
    static void Post(std::function<void()> fn);

    // User-interface thread: runs every queued call; returns how many ran.
    static int ProcessPending();

    // User-interface thread: returns once done() is true, running queued
    // calls meanwhile. done() is re-checked after every queued call and
    // after every Wake(); the timeout only bounds a single sleep.
    static void WaitUntil(const std::function<bool()> &done,
                          std::chrono::milliseconds recheck = std::chrono::milliseconds(50));

    // Wakes WaitUntil so it re-checks its condition (a worker calls this
    // when it finishes).
    static void Wake();

    // Where exceptions from posted (non-blocking) calls go. Without a
    // handler they are dropped.
    static void SetErrorHandler(std::function<void(std::exception_ptr)> handler);
};

} // namespace q274
