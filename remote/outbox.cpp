#include "outbox.h"

#include <algorithm>

namespace q274 {

TMqttOutbox::PushResult TMqttOutbox::Push(MqttMessage message)
{
    std::lock_guard lock(FMutex);
    if (message.Retained) {
        const auto it = FRetainedIndex.constFind(message.Topic);
        if (it == FRetainedIndex.cend()) {
            FRetainedIndex.insert(message.Topic, FRetained.size());
            FRetained.push_back(message);
        } else {
            FRetained[*it] = message;
        }
    }
    PushResult result;
    result.WasEmpty = FQueue.empty();
    FQueue.push_back(std::move(message));
    if (FQueue.size() > FCapacity) {
        FQueue.pop_front();
        ++FDropped;
        result.Dropped = true;
        result.FirstDropped = !FDropping;
        FDropping = true;
    }
    return result;
}

std::vector<MqttMessage> TMqttOutbox::Take(std::size_t max)
{
    std::lock_guard lock(FMutex);
    const std::size_t n = std::min(max, FQueue.size());
    std::vector<MqttMessage> out(std::make_move_iterator(FQueue.begin()),
                                 std::make_move_iterator(FQueue.begin() + std::ptrdiff_t(n)));
    FQueue.erase(FQueue.begin(), FQueue.begin() + std::ptrdiff_t(n));
    if (FQueue.empty())
        FDropping = false;
    return out;
}

std::vector<MqttMessage> TMqttOutbox::RetainedState() const
{
    std::lock_guard lock(FMutex);
    return FRetained;
}

std::vector<MqttMessage> TMqttOutbox::TakeRetainedState()
{
    std::lock_guard lock(FMutex);
    FQueue.erase(std::remove_if(FQueue.begin(), FQueue.end(), [](const MqttMessage &m) { return m.Retained; }),
                 FQueue.end());
    if (FQueue.empty())
        FDropping = false;
    return FRetained;
}

std::size_t TMqttOutbox::Waiting() const
{
    std::lock_guard lock(FMutex);
    return FQueue.size();
}

std::size_t TMqttOutbox::DroppedTotal() const
{
    std::lock_guard lock(FMutex);
    return FDropped;
}

int MqttRetryDelayMs(int failures)
{
    constexpr int kFirst = 500;
    constexpr int kLast = 30000;
    int delay = kFirst;
    for (int i = 1; i < failures && delay < kLast; ++i)
        delay *= 2;
    return std::min(delay, kLast);
}

} // namespace q274
