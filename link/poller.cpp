#include "poller.h"

#include "protocol.h"

namespace q274 {

TPoller::TPoller(Line line)
    : tmrQ(std::make_unique<TThreadedTimer>(75, tpHigher)), tmrTStatus(std::make_unique<TThreadedTimer>(250, tpNormal)),
      tmrTemp(std::make_unique<TThreadedTimer>(900, tpHigher)),
      tmrRStatus(std::make_unique<TThreadedTimer>(200, tpNormal)), FLine(std::move(line))
{
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

void TPoller::tmrQTimer() { CommandQueue.Tick(FLine.Connected(), ReadyToSend, FLine.Write); }

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
