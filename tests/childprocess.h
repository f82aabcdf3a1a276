// Starting helper programs from tests. Plain fork and exec rather than
// QProcess: the thread checker follows fork, while QProcess's own way of
// starting children leaves it with a false picture of the test's threads.
// The child dies with the test, so a crashed test never leaves an orphan
// holding the test runner's output open.
#pragma once

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace q274test {

class ChildProcess {
public:
    // Starts path with args; its standard output is readable through
    // ReadLine, its standard error goes where the test's goes.
    ChildProcess(const std::string &path, const std::vector<std::string> &args)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        FPid = ::fork();
        if (FPid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(out[1], 1);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        FOut = out[0];
        if (FPid < 0) {
            ::close(FOut);
            FOut = -1;
        }
    }
    ~ChildProcess()
    {
        Terminate();
        if (FOut >= 0)
            ::close(FOut);
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool Started() const { return FPid > 0; }

    // One line of standard output without its line end, or nothing when
    // none came within the time or the output ended.
    std::optional<std::string> ReadLine(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto nl = FBuffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = FBuffer.substr(0, nl);
                FBuffer.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (FOut < 0 || left <= 0)
                return std::nullopt;
            pollfd p{FOut, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            char buf[512];
            const ssize_t n = ::read(FOut, buf, sizeof buf);
            if (n <= 0)
                return std::nullopt;
            FBuffer.append(buf, size_t(n));
        }
    }

    // Waits for the end; the exit code, or nothing after the time (or when
    // the child was killed by a signal).
    std::optional<int> Wait(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Running()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            ::usleep(5000);
        }
        return FExitCode;
    }

    // Reaps the child once it has ended.
    bool Running()
    {
        if (FPid <= 0)
            return false;
        int status = 0;
        const pid_t r = ::waitpid(FPid, &status, WNOHANG);
        if (r == 0)
            return true;
        if (r == FPid && WIFEXITED(status))
            FExitCode = WEXITSTATUS(status);
        FPid = -1;
        return false;
    }

    int Pid() const { return FPid; }
    // Sends sig (SIGKILL: the power cut) without waiting.
    void Signal(int sig)
    {
        if (FPid > 0)
            ::kill(FPid, sig);
    }

    // SIGTERM, then SIGKILL if it does not end within ten seconds.
    void Terminate()
    {
        if (FPid <= 0)
            return;
        ::kill(FPid, SIGTERM);
        if (!Wait(10000) && FPid > 0) {
            ::kill(FPid, SIGKILL);
            Wait(10000);
        }
    }

private:
    pid_t FPid = -1;
    int FOut = -1;
    std::string FBuffer;
    std::optional<int> FExitCode;
};

} // namespace q274test
