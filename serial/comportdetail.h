// Small helpers shared by the port component's source files.
#pragma once

#include <cerrno>
#include <chrono>

namespace q274::comdetail {

// ioctl results that mean "this device has no such thing" (ptys, some adapters).
inline bool NotSupported(int e) { return e == ENOTTY || e == EINVAL; }

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0.
inline int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 1000000000 ? 1000000000 : int(left);
}

} // namespace q274::comdetail
