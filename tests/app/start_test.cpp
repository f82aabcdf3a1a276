// The program's start as a user without a working display meets it: a clear
// message and exit status 1, never Qt's abort.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>

namespace {

struct Outcome {
    int status = -1; // exit status; -1: did not exit normally
    std::string output;
};

Outcome RunProgram(const std::string &environment)
{
    // A time limit: a display that came to life meanwhile would show the window.
    const std::string command = "timeout 20 env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + environment + " '"
                                + Q274_PROGRAM_PATH + "' 2>&1";
    Outcome o;
    FILE *p = ::popen(command.c_str(), "r");
    if (!p)
        return o;
    std::array<char, 512> buf{};
    while (std::fgets(buf.data(), int(buf.size()), p))
        o.output += buf.data();
    const int raw = ::pclose(p);
    if (WIFEXITED(raw))
        o.status = WEXITSTATUS(raw);
    return o;
}

bool Exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

TEST(Start, ADeadDisplayIsReportedLikeNoDisplay)
{
    int dead = 90;
    while (Exists("/tmp/.X11-unix/X" + std::to_string(dead)) || Exists("/tmp/.X" + std::to_string(dead) + "-lock"))
        ++dead;
    const std::string home = "HOME=/nonexistent/q274-home";
    const Outcome none = RunProgram("-u DISPLAY " + home);
    const Outcome gone = RunProgram("DISPLAY=:" + std::to_string(dead) + " " + home);
    for (const Outcome &o : {none, gone}) {
        EXPECT_EQ(o.status, 1) << o.output;
        EXPECT_NE(o.output.find("needs a graphical desktop, but no display was found"), std::string::npos)
            << o.output;
        EXPECT_EQ(o.output.find("einstall"), std::string::npos) << o.output;
    }
    EXPECT_NE(gone.output.find(":" + std::to_string(dead) + " does not answer"), std::string::npos) << gone.output;
}
