// The real simulator program, driven over its pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Generous: the suite also runs under the sanitizers on a busy machine.
constexpr auto patience = 10s;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// One simulator process; terminated and reaped when the object goes.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) { start(std::move(args), true); }
    SimProcess(std::vector<std::string> args, bool captureStderr) { start(std::move(args), captureStderr); }

    ~SimProcess()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            int status;
            ::waitpid(FPid, &status, 0);
        }
        if (FOut >= 0)
            ::close(FOut);
        if (FErr >= 0)
            ::close(FErr);
    }

    // First stdout line (without the line feed), or "" when none came in time.
    std::string firstLine() { return readLineFrom(FOut); }

    std::string readAllStdout() { return readAll(FOut); }
    std::string readAllStderr() { return readAll(FErr); }

    // Exit code once the process ends, -1 on time-out or an abnormal end.
    int waitExit(std::chrono::milliseconds limit = patience)
    {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            int status;
            const pid_t r = ::waitpid(FPid, &status, WNOHANG);
            if (r == FPid) {
                FPid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            // Nothing to poll on for a child's end: check again shortly.
            ::usleep(10000);
        }
        return -1;
    }

    bool stop(int sig = SIGTERM) { return ::kill(FPid, sig) == 0; }

private:
    void start(std::vector<std::string> args, bool captureStderr)
    {
        int out[2], err[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        if (captureStderr)
            posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        args.insert(args.begin(), Q274_SIM_PATH);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&FPid, Q274_SIM_PATH, &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(err[1]);
        FOut = out[0];
        FErr = err[0];
        ASSERT_EQ(rc, 0) << Q274_SIM_PATH;
    }

    static std::string readLineFrom(int fd)
    {
        std::string line;
        const auto deadline = Clock::now() + patience;
        while (Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0)
                break;
            char c;
            if (::read(fd, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return {};
    }

    static std::string readAll(int fd)
    {
        std::string all;
        const auto deadline = Clock::now() + patience;
        while (Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0)
                break;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            all.append(buf, static_cast<std::size_t>(n));
        }
        return all;
    }

    pid_t FPid = -1;
    int FOut = -1, FErr = -1;
};

// The slave side, opened as the program opens its port: raw, no echo.
class Line {
public:
    explicit Line(const std::string &path)
    {
        FFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (FFd < 0)
            return;
        termios t;
        ::tcgetattr(FFd, &t);
        ::cfmakeraw(&t);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(FFd, TCSANOW, &t);
    }
    ~Line()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    bool ok() const { return FFd >= 0; }
    int fd() const { return FFd; }

    void send(const std::string &bytes) { ASSERT_EQ(::write(FFd, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }

    // Reads until CR LF; every read is kept as one chunk, so the pieces of a
    // split reply can be told apart. Returns the bytes, "" on time-out.
    std::string readLine(std::vector<std::string> *chunks = nullptr)
    {
        std::string got;
        const auto deadline = Clock::now() + patience;
        while (got.find("\r\n") == std::string::npos && Clock::now() < deadline) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0)
                break;
            char buf[256];
            const ssize_t n = ::read(FFd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(n));
            if (chunks)
                chunks->emplace_back(buf, static_cast<std::size_t>(n));
        }
        return got.find("\r\n") == std::string::npos ? std::string() : got;
    }

    std::string ask(const std::string &command)
    {
        send(command);
        return readLine();
    }

    // True when bytes arrive within the given time.
    bool anythingWithin(std::chrono::milliseconds limit)
    {
        pollfd p{FFd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(limit.count())) > 0;
    }

private:
    int FFd = -1;
};

// "-?digits.dd", as the board writes a temperature.
bool isValue(const std::string &text)
{
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == start || text.size() != dot + 3)
        return false;
    for (std::size_t i = start; i < text.size(); ++i)
        if (i != dot && (text[i] < '0' || text[i] > '9'))
            return false;
    return true;
}

std::string tempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/q274-sim-test-XXXXXX";
    if (!::mkdtemp(templ.data()))
        return {};
    return templ;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Waits until the file holds the text.
bool waitForText(const std::string &path, const std::string &text)
{
    const auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
        if (slurp(path).find(text) != std::string::npos)
            return true;
        ::usleep(10000);
    }
    return false;
}

} // namespace

TEST(SimProgram, AnswersEachCommandWithOneLine)
{
    SimProcess sim({"--seed", "3"});
    const std::string path = sim.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    Line line(path);
    ASSERT_TRUE(line.ok());

    EXPECT_EQ(line.ask("?"), "?Temperature Monitor & Controller v2.1\r\n");
    const std::string t0 = line.ask("T0");
    ASSERT_GE(t0.size(), 4u);
    EXPECT_EQ(t0.substr(0, 2), "T0");
    EXPECT_EQ(t0.substr(t0.size() - 2), "\r\n");
    std::istringstream fields(t0.substr(2, t0.size() - 4));
    int count = 0;
    for (std::string f; std::getline(fields, f, ','); ++count)
        EXPECT_TRUE(isValue(f)) << t0;
    EXPECT_EQ(count, 4) << t0;
    const std::string t3 = line.ask("T3");
    ASSERT_GE(t3.size(), 4u);
    EXPECT_EQ(t3.substr(0, 2), "T3");
    EXPECT_TRUE(isValue(t3.substr(2, t3.size() - 4))) << t3;
    // Start temperatures lie near the default ambient of 21 C.
    EXPECT_NEAR(std::stod(t3.substr(2)), 21, 3);
    EXPECT_EQ(line.ask("S0"), "S000\r\n");
    EXPECT_EQ(line.ask("N2"), "N2\r\n");
    EXPECT_EQ(line.ask("S0"), "S002\r\n");
    EXPECT_EQ(line.ask("F2"), "F2\r\n");
    EXPECT_EQ(line.ask("S0"), "S000\r\n");
    // An incomplete command gets its answer after the gap; an unknown one too.
    EXPECT_EQ(line.ask("T"), "ET\r\n");
    EXPECT_EQ(line.ask("hello\r\n"), "Ehello\r\n");

    sim.stop(SIGINT);
    EXPECT_EQ(sim.waitExit(), 0);
}

TEST(SimProgram, SurvivesThePortBeingClosedAndReopened)
{
    SimProcess sim({});
    const std::string path = sim.firstLine();
    {
        Line line(path);
        ASSERT_TRUE(line.ok());
        EXPECT_EQ(line.ask("N4"), "N4\r\n");
    }
    Line again(path);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.ask("S0"), "S008\r\n");
}

TEST(SimProgram, TraceRecordsTrafficWithTimes)
{
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    const std::string trace = dir + "/trace.log";
    SimProcess sim({"--trace", trace, "--reply-delay", "150", "--no-sensor", "3", "--bad-value", "1"});
    Line line(sim.firstLine());
    ASSERT_TRUE(line.ok());
    const auto sent = Clock::now();
    EXPECT_EQ(line.ask("T3"), "T3?\r\n");
    EXPECT_GE(Clock::now() - sent, 150ms);
    EXPECT_EQ(line.ask("T1"), "T1ERR\r\n");
    ASSERT_TRUE(waitForText(trace, "TX T1ERR\n"));

    std::istringstream in(slurp(trace));
    std::vector<std::pair<long, std::string>> entries;
    long ms;
    std::string rest;
    while (in >> ms && std::getline(in, rest))
        entries.emplace_back(ms, rest);
    ASSERT_EQ(entries.size(), 4u) << slurp(trace);
    EXPECT_EQ(entries[0].second, " RX T3");
    EXPECT_EQ(entries[1].second, " TX T3?");
    EXPECT_EQ(entries[2].second, " RX T1");
    EXPECT_EQ(entries[3].second, " TX T1ERR");
    EXPECT_GE(entries[1].first - entries[0].first, 150);
    EXPECT_GE(entries[3].first - entries[2].first, 150);
    EXPECT_GE(entries[2].first, entries[1].first);

    ::unlink(trace.c_str());
    ::rmdir(dir.c_str());
}

TEST(SimProgram, SplitRepliesArriveInPiecesAsOneLine)
{
    SimProcess sim({"--split-gap", "250"});
    Line line(sim.firstLine());
    ASSERT_TRUE(line.ok());
    std::vector<std::string> chunks;
    const auto sent = Clock::now();
    line.send("?");
    const std::string reply = line.readLine(&chunks);
    EXPECT_EQ(reply, "?Temperature Monitor & Controller v2.1\r\n");
    // Three pieces 250 ms apart: the line end cannot come before 500 ms.
    EXPECT_GE(Clock::now() - sent, 500ms);
    ASSERT_GE(chunks.size(), 2u);
    EXPECT_EQ(chunks.front().find('\r'), std::string::npos);
}

TEST(SimProgram, SilentAfterNCommands)
{
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    const std::string trace = dir + "/trace.log";
    SimProcess sim({"--silent-after", "2", "--trace", trace});
    Line line(sim.firstLine());
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.ask("?"), "?Temperature Monitor & Controller v2.1\r\n");
    EXPECT_EQ(line.ask("S0"), "S000\r\n");
    line.send("T2");
    ASSERT_TRUE(waitForText(trace, "RX T2\n"));
    // Unanswered replies would be written right after the command was read.
    EXPECT_FALSE(line.anythingWithin(300ms));
    EXPECT_EQ(slurp(trace).find("TX T2"), std::string::npos);
    ::unlink(trace.c_str());
    ::rmdir(dir.c_str());
}

TEST(SimProgram, HangupAfterEndsTheLine)
{
    SimProcess sim({"--hangup-after", "0.3"});
    Line line(sim.firstLine());
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.ask("S0"), "S000\r\n");

    const auto deadline = Clock::now() + patience;
    bool hungUp = false;
    while (!hungUp && Clock::now() < deadline) {
        pollfd p{line.fd(), POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0)
            break;
        if (p.revents & (POLLHUP | POLLERR)) {
            hungUp = true;
            break;
        }
        char c;
        const ssize_t n = ::read(line.fd(), &c, 1);
        hungUp = n == 0 || (n < 0 && errno == EIO);
    }
    EXPECT_TRUE(hungUp);
    char c;
    const ssize_t n = ::read(line.fd(), &c, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_EQ(sim.waitExit(), 0);
}

TEST(SimProgram, HangupAfterRepliesEndsAtTheNthReply)
{
    SimProcess sim({"--hangup-after-replies", "2"});
    Line line(sim.firstLine());
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.ask("S0"), "S000\r\n");
    line.ask("S0"); // its reply may or may not be read before the line dies
    EXPECT_EQ(sim.waitExit(), 0);
}

TEST(SimProgram, LinkIsMadeReplacedAndRemoved)
{
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/board";
    ASSERT_EQ(::symlink("/nonexistent/stale", link.c_str()), 0);
    {
        SimProcess sim({"--link", link});
        const std::string path = sim.firstLine();
        char buf[256] = {};
        ASSERT_GT(::readlink(link.c_str(), buf, sizeof buf - 1), 0);
        EXPECT_EQ(path, buf);
        Line line(link);
        ASSERT_TRUE(line.ok());
        EXPECT_EQ(line.ask("N1"), "N1\r\n");
        sim.stop(SIGTERM);
        EXPECT_EQ(sim.waitExit(), 0);
    }
    struct stat st;
    EXPECT_NE(::lstat(link.c_str(), &st), 0);

    // A real file under the link's name is not ours to replace.
    {
        std::ofstream(link) << "keep me";
        SimProcess sim({"--link", link});
        EXPECT_EQ(sim.waitExit(), 1);
        EXPECT_EQ(slurp(link), "keep me");
    }
    ::unlink(link.c_str());
    ::rmdir(dir.c_str());
}

TEST(SimProgram, HelpAndWrongOptions)
{
    {
        SimProcess sim({"--help"});
        EXPECT_NE(sim.readAllStdout().find("--hangup-after"), std::string::npos);
        EXPECT_EQ(sim.waitExit(), 0);
    }
    {
        SimProcess sim({"--version"});
        EXPECT_EQ(sim.readAllStdout(), "q274-board-sim " + std::string(EXPECTED_VERSION) + "\n");
        EXPECT_EQ(sim.waitExit(), 0);
    }
    {
        SimProcess sim({"--no-such-option"});
        EXPECT_NE(sim.readAllStderr().find("unknown option '--no-such-option'"), std::string::npos);
        EXPECT_EQ(sim.waitExit(), 2);
    }
    {
        SimProcess sim({"--no-sensor", "7"});
        EXPECT_EQ(sim.waitExit(), 2);
    }
}
