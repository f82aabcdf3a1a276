// The port's event thread: waits on the device and a stop eventfd, turns what
// it sees into batches of TComEvents and hands each batch to the port's
// handlers by the port's SyncMethod.
#pragma once

#include "comport.h"

#include <atomic>
#include <thread>

namespace q274 {

class TComThread {
public:
    // Captures what the thread needs from the port (descriptor, events,
    // sync method); the port must stay open until the thread has ended.
    explicit TComThread(TCustomComPort &port);
    ~TComThread();

    TComThread(const TComThread &) = delete;
    TComThread &operator=(const TComThread &) = delete;

    void Start();
    // Asks the thread to end; does not wait.
    void RequestStop();
    // Asks and waits. On the user-interface thread the wait keeps running
    // queued hand-offs, so a delivery the thread is waiting on runs first.
    void Stop();
    bool Finished() const { return FFinished.load(); }
    // True when a delivery raised and the thread ended because of it.
    bool EndedByError() const { return FEndedByError.load(); }
    std::thread::id Id() const { return FThread.get_id(); }
    // The batch being (or last) delivered.
    TComEvents LastBatch() const { return FLastBatch.load(); }

private:
    void Execute();
    void Run();
    void Dispatch(TComEvents batch);

    TCustomComPort &FPort;
    const int FFd;
    const TComEvents FEvents;
    const TSyncMethod FSyncMethod;
    const int FInputSize;
    const unsigned FGeneration;
    const bool FParityCheck;
    int FStopFd = -1;
    std::thread FThread;
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FEndedByError{false};
    std::atomic<TComEvents> FLastBatch{0};
};

} // namespace q274
