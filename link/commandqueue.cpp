#include "commandqueue.h"

namespace q274 {

std::string TrimCommand(const std::string &command)
{
    size_t begin = 0;
    size_t end = command.size();
    while (begin < end && static_cast<unsigned char>(command[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(command[end - 1]) <= 0x20)
        --end;
    return command.substr(begin, end - begin);
}

bool CommandSender::Tick(bool connected, bool &readyToSend, const std::function<void(const std::string &)> &write)
{
    if (!connected || CommandQueue.empty() || !readyToSend)
        return false;
    const std::string item = TrimCommand(CommandQueue.front());
    bool written = false;
    if (!item.empty()) {
        readyToSend = false;
        write(item); // a failure leaves the item at the head
        if (item.find('F') != std::string::npos || item.find('N') != std::string::npos)
            CommandQueue.push_back("S0"); // the relay indicators follow the board
        written = true;
    }
    CommandQueue.pop_front();
    return written;
}

std::string TemperatureRotation::Next()
{
    // Appended rather than "T" + to_string(): GCC 12 warns falsely on the
    // temporary in the hardened package build.
    std::string command = "T";
    command += std::to_string(FNextChannel);
    FNextChannel = FNextChannel >= 4 ? 1 : FNextChannel + 1;
    return command;
}

} // namespace q274
