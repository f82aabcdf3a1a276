#include "x11session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace q274x11 {

namespace {

std::string FindProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

struct Result {
    int code = -1;
    std::vector<std::string> lines;
};

Result Run(const std::vector<std::string> &command, int timeoutMs = 10000)
{
    q274test::ChildProcess p(command[0], {command.begin() + 1, command.end()});
    Result r;
    while (auto line = p.ReadLine(timeoutMs))
        r.lines.push_back(*line);
    r.code = p.Wait(timeoutMs).value_or(-1);
    return r;
}

// One X server for the whole test program, on a display it picks itself.
struct XServer {
    std::unique_ptr<q274test::ChildProcess> process;
    std::string display;
    std::string error;
};

XServer &Server()
{
    static XServer x = [] {
        XServer s;
        const std::string xvfb = FindProgram("Xvfb");
        if (xvfb.empty()) {
            s.error = "Xvfb not found on PATH";
            return s;
        }
        s.process = std::make_unique<q274test::ChildProcess>(
            xvfb, std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                           // No reset between programs: one starting during a reset fails.
                                           "-noreset"});
        const auto number = s.process->ReadLine(30000);
        if (!number || number->empty()) {
            s.error = "Xvfb did not report a display";
            s.process.reset();
        } else {
            s.display = ":" + *number;
        }
        return s;
    }();
    return x;
}

std::string Anchored(const std::string &title)
{
    std::string re = "^";
    for (char c : title) {
        if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos)
            re += '\\';
        re += c;
    }
    return re + "$";
}

std::string Xdotool()
{
    static const std::string path = FindProgram("xdotool");
    return path;
}

long long DayMs(int year, unsigned month, unsigned day, long long hour, long long minute, long long second,
                long long ms)
{
    using namespace std::chrono;
    const long long days = sys_days{std::chrono::year{year} / month / day}.time_since_epoch().count();
    return (((days * 24 + hour) * 60 + minute) * 60 + second) * 1000 + ms;
}

} // namespace

bool WaitFor(const std::function<bool()> &cond, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

std::optional<long long> StampMs(const std::string &line)
{
    // United States settings: M/d/yyyy h:mm:ss AM, the time left out in the
    // first second after midnight; the milliseconds in brackets.
    static const std::regex stamp(R"(^(\d{1,2})/(\d{1,2})/(\d{4})(?: (\d{1,2}):(\d{2}):(\d{2})(.*?))?  \((\d{3})\))");
    std::smatch m;
    if (!std::regex_search(line, m, stamp))
        return std::nullopt;
    long long hour = m[4].matched ? std::stoll(m[4]) % 12 : 0;
    if (m[7].str().find("PM") != std::string::npos)
        hour += 12;
    return DayMs(std::stoi(m[3]), unsigned(std::stoi(m[1])), unsigned(std::stoi(m[2])), hour,
                 m[5].matched ? std::stoll(m[5]) : 0, m[6].matched ? std::stoll(m[6]) : 0, std::stoll(m[8]));
}

long long LocalMs(std::chrono::system_clock::time_point t)
{
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm lt{};
    ::localtime_r(&secs, &lt);
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    return DayMs(lt.tm_year + 1900, unsigned(lt.tm_mon + 1), unsigned(lt.tm_mday), lt.tm_hour, lt.tm_min, lt.tm_sec,
                 ms);
}

std::vector<std::string> ReadLines(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<size_t> Find(const std::vector<std::string> &lines, const std::string &text)
{
    std::vector<size_t> found;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos)
            found.push_back(i);
    return found;
}

Session::Session()
{
    const XServer &x = Server();
    if (!x.error.empty()) {
        FUnavailable = "Xvfb not available: " + x.error;
        return;
    }
    ::setenv("DISPLAY", x.display.c_str(), 1);
    if (Xdotool().empty()) {
        FUnavailable = "xdotool not available: not found on PATH (install the xdotool package)";
        return;
    }
    if (Run({Xdotool(), "getdisplaygeometry"}).code != 0) {
        FUnavailable = "xdotool not available: it cannot reach the X server " + x.display;
        return;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/q274-x11-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        FUnavailable = "no temporary folder";
        return;
    }
    FDir = pattern;
    // A private home: the log folder, Qt's settings and caches land there.
    const std::string home = FDir + "/home";
    fs::create_directories(home + "/Documents");
    fs::create_directories(FDir + "/runtime");
    fs::create_directories(FDir + "/bin");
    ::chmod((FDir + "/runtime").c_str(), 0700);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (FDir + "/runtime").c_str(), 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_TIME");
    ::unsetenv("LANGUAGE");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("QT_QPA_PLATFORMTHEME");
    ::unsetenv("QT_STYLE_OVERRIDE");
    ::setenv("NO_AT_BRIDGE", "1", 1);
    // Alarms go out as desktop notifications: never to the desktop of
    // whoever runs the tests, and no bus started on the X server's behalf.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + FDir + "/runtime/no-bus").c_str(), 1);
}

Session::~Session()
{
    const bool failed = ::testing::Test::HasFailure();
    if (failed && !FMain.empty()) {
        const std::string import = FindProgram("import");
        if (!import.empty() && Run({import, "-window", "root", FDir + "/failure.png"}).code == 0)
            std::cerr << "Screen at the failure: " << FDir << "/failure.png\n";
    }
    FProgram.reset();
    FBoard.reset();
    if (FDir.empty())
        return;
    if (failed) {
        std::cerr << "Files of the failed test kept in " << FDir << '\n';
    } else {
        std::error_code ignored;
        fs::remove_all(FDir, ignored);
    }
}

bool Session::StartBoard(const std::vector<std::string> &options)
{
    std::vector<std::string> args{"--link", BoardLink(), "--trace", FDir + "/trace.txt"};
    args.insert(args.end(), options.begin(), options.end());
    FBoard = std::make_unique<q274test::ChildProcess>(Q274_SIM_PATH, args);
    // The device path comes first on standard output once the link exists.
    FDevice = FBoard->ReadLine(20000).value_or(std::string());
    return !FDevice.empty();
}

bool Session::StartProgram()
{
    const std::string copy = FDir + "/bin/Q274TCstd";
    std::error_code error;
    fs::copy_file(Q274_PROGRAM_PATH, copy, fs::copy_options::overwrite_existing, error);
    if (error)
        return false;
    FProgram = std::make_unique<q274test::ChildProcess>(copy, std::vector<std::string>{"--port", BoardLink()});
    FMain = Await(kMainTitle, {}, 30s);
    if (FMain.empty())
        return false;
    const Result pid = Run({Xdotool(), "getwindowpid", FMain});
    if (pid.code == 0 && !pid.lines.empty())
        FProgramPid = std::stoi(pid.lines.front());
    return FProgramPid > 0;
}

std::vector<std::string> Session::Trace() const { return ReadLines(FDir + "/trace.txt"); }

std::vector<std::string> Session::Windows(const std::string &title) const
{
    return Run({Xdotool(), "search", "--onlyvisible", "--name", Anchored(title)}).lines;
}

std::string Session::Await(const std::string &title, const std::vector<std::string> &known,
                           std::chrono::milliseconds limit) const
{
    std::string found;
    WaitFor(
        [&] {
            for (const std::string &w : Windows(title))
                if (std::find(known.begin(), known.end(), w) == known.end()) {
                    found = w;
                    return true;
                }
            return false;
        },
        limit);
    return found;
}

bool Session::Gone(const std::string &window) const
{
    return WaitFor([&] {
        const auto all = Run({Xdotool(), "search", "--onlyvisible", "--name", ""}).lines;
        return std::find(all.begin(), all.end(), window) == all.end();
    });
}

void Session::Press(const std::string &window, const std::string &keys) const
{
    // Focus first: without a window manager a key sent to a window that has
    // no focus comes as a synthetic event, which Qt ignores.
    std::vector<std::string> command{Xdotool(), "windowfocus", "--sync", window, "key", "--delay", "30"};
    std::istringstream each(keys);
    for (std::string key; each >> key;)
        command.push_back(key);
    Run(command);
}

void Session::Type(const std::string &window, const std::string &text) const
{
    Run({Xdotool(), "windowfocus", "--sync", window, "type", "--delay", "10", text});
}

bool Session::PortOpen() const
{
    std::error_code error;
    for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(FProgramPid) + "/fd", error)) {
        std::error_code ignored;
        if (fs::read_symlink(fd.path(), ignored) == FDevice)
            return true;
    }
    return false;
}

bool Session::ChooseFile(const std::string &path) const
{
    const std::string dialog = Await(kSaveDialogTitle);
    if (dialog.empty())
        return false;
    Press(dialog, "ctrl+a");
    Type(dialog, path);
    Press(dialog, "Return");
    return Gone(dialog);
}

std::optional<std::vector<std::string>> Session::SaveLog(const std::string &path) const
{
    const auto known = Windows(kQuestionTitle);
    Press(FMain, "ctrl+s");
    const std::string ask = Await(kQuestionTitle, known);
    if (ask.empty())
        return std::nullopt;
    Press(ask, "Return"); // Yes is the default button
    if (!ChooseFile(path) || !WaitFor([&] { return fs::exists(path); }))
        return std::nullopt;
    return ReadLines(path);
}

} // namespace q274x11
