#include "poller.h"

#include "protocol.h"

namespace q274 {

TPoller::TPoller(Line line)
    : tmrQ(std::make_unique<TThreadedTimer>(75, tpHigher)), tmrTStatus(std::make_unique<TThreadedTimer>(250, tpNormal)),
      tmrTemp(std::make_unique<TThreadedTimer>(900, tpHigher)),
      tmrRStatus(std::make_unique<TThreadedTimer>(200, tpNormal)), FLine(std::move(line))
{
    // The sender has nothing to do while the queue is empty: its worker
    // sleeps until a command is queued instead of waking every 75 ms.
    tmrQ->SetOnDemand(true);
    tmrQ->OnTimer = [this] { tmrQTimer(); };
    tmrTStatus->OnTimer = [this] { tmrTStatusTimer(); };
    tmrTemp->OnTimer = [this] { tmrTempTimer(); };
    tmrRStatus->OnTimer = [this] { tmrRStatusTimer(); };
}

TPoller::~TPoller()
{
    // Ticks already waiting for the UI thread are dropped with the handlers.
    for (TThreadedTimer *t : {tmrQ.get(), tmrTStatus.get(), tmrTemp.get(), tmrRStatus.get()}) {
        t->SetEnabled(false);
        t->OnTimer = nullptr;
    }
}

void TPoller::ConnectionOpened() { ReadyToSend = false; }

void TPoller::LineReceived() { ReadyToSend = true; }

void TPoller::BoardIdentified() { tmrTStatus->SetEnabled(true); }

void TPoller::FirstReadingShown() { tmrRStatus->SetEnabled(true); }

void TPoller::ConnectionClosed()
{
    StopTemperaturePolling();
    // A one-shot still pending would queue a stale query and restart
    // temperature routing while the port is closed.
    tmrTStatus->SetEnabled(false);
    tmrRStatus->SetEnabled(false);
    CommandQueue.Clear();
    tmrQ->SetDemand(false);
}

bool TPoller::RoutesTemperature(const QString &line) const { return TemperaturesEnabled && IsTemperatureReply(line); }

void TPoller::StartCommandSender() { tmrQ->SetEnabled(true); }

void TPoller::StartTemperaturePolling()
{
    tmrTemp->SetEnabled(true);
    TemperaturesEnabled = true;
}

void TPoller::StopTemperaturePolling()
{
    if (OnPollingStopped)
        OnPollingStopped();
    tmrTemp->SetEnabled(false);
    TemperaturesEnabled = false;
    FRotation.Reset();
}

void TPoller::QueueCommand(const std::string &command)
{
    CommandQueue.QueueCommand(command);
    tmrQ->SetDemand(true);
}

void TPoller::tmrQTimer()
{
    // Also when the write fails: the command then stays queued.
    struct DemandUpdate {
        TPoller &poller;
        ~DemandUpdate() { poller.tmrQ->SetDemand(!poller.CommandQueue.Items().empty()); }
    } update{*this};
    CommandQueue.Tick(FLine.Connected(), ReadyToSend, FLine.Write);
}

void TPoller::tmrTStatusTimer()
{
    tmrTStatus->SetEnabled(false);
    QueueCommand("T0");
    StartTemperaturePolling();
}

void TPoller::tmrTempTimer() { QueueCommand(FRotation.Next()); }

void TPoller::tmrRStatusTimer()
{
    tmrRStatus->SetEnabled(false);
    QueueCommand("S0");
}

} // namespace q274
