// A pseudo-terminal pair for the port's tests: the port opens the slave
// side, the test plays the far end on the master.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace q274test {

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave = ptsname(master);
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const std::string &s) const { ASSERT_EQ(::write(master, s.data(), s.size()), ssize_t(s.size())); }
    // Reads until n bytes came or the deadline passed.
    std::string receive(std::size_t n) const
    {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (out.size() < n && std::chrono::steady_clock::now() < end) {
            struct pollfd p {
                master, POLLIN, 0
            };
            if (::poll(&p, 1, 50) > 0) {
                char buf[256];
                const ssize_t r = ::read(master, buf, sizeof buf);
                if (r > 0)
                    out.append(buf, std::size_t(r));
            }
        }
        return out;
    }
};

} // namespace q274test
