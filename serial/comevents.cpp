// Delivering the event thread's batches to the handlers, and the
// notification steps around open and close.
#include "comport.h"

namespace q274 {

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
