// The built program as a user meets it: a real X server, real key presses,
// the board simulator on a pseudo-terminal, log files read back from disk.
#include "x11session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/resource.h>
#include <thread>

using namespace q274x11;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *kCleared = "Log contents have been cleared";
constexpr const char *kConnecting = "Connecting to Q274... ";
constexpr const char *kNoBoard = "Could not connect to the Q274 board";
constexpr const char *kIoError = "An I/O error occured during communication with the device.";

class X11E2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!s.Unavailable().empty())
            GTEST_SKIP() << s.Unavailable();
    }

    // Presses keys in the main window: exactly one window titled title must
    // come; closeKey closes it, and it must not come back.
    void ExpectOneModal(const std::string &keys, const std::string &title, const std::string &closeKey)
    {
        SCOPED_TRACE(keys + " -> \"" + title + "\"");
        const auto known = s.Windows(title);
        s.Press(s.Main(), keys);
        const std::string box = s.Await(title, known);
        ASSERT_FALSE(box.empty()) << keys << " showed no \"" << title << "\" window";
        s.Press(box, closeKey);
        ASSERT_TRUE(s.Gone(box)) << closeKey << " did not close \"" << title << "\"";
        Session::Settle();
        for (const std::string &w : s.Windows(title)) {
            if (std::find(known.begin(), known.end(), w) != known.end())
                continue;
            ADD_FAILURE() << keys << " showed \"" << title << "\" again after it was closed";
            s.Press(w, closeKey); // so the steps after this one can go on
            s.Gone(w);
        }
    }

    // Some lines, then Clear Log with Yes and a file in a folder that does
    // not exist; answers the error box. The log saved afterwards, or nothing
    // after a failed check.
    std::optional<std::vector<std::string>> FailedClearLog()
    {
        if (!s.StartProgram()) {
            ADD_FAILURE() << "no main window";
            return std::nullopt;
        }
        s.Press(s.Main(), "ctrl+e"); // "Logging disabled", then enabled again
        s.Press(s.Main(), "ctrl+e");
        s.Press(s.Main(), "ctrl+r");
        const std::string ask = s.Await(kQuestionTitle);
        if (ask.empty()) {
            ADD_FAILURE() << "Ctrl+R did not ask to save";
            return std::nullopt;
        }
        s.Press(ask, "Return");
        const std::string failing = s.Dir() + "/no-such-folder/cleared.log";
        if (!s.ChooseFile(failing)) {
            ADD_FAILURE() << "no file dialog";
            return std::nullopt;
        }
        const std::string error = s.Await(kMainTitle, {s.Main()});
        if (error.empty()) {
            ADD_FAILURE() << "no error box for the failed save";
            return std::nullopt;
        }
        s.Press(error, "Return");
        EXPECT_TRUE(s.Gone(error));
        Session::Settle();
        EXPECT_EQ(s.Windows(kMainTitle).size(), 1u) << "the error box came again";
        EXPECT_TRUE(s.Windows(kQuestionTitle).empty()) << "the save question came again";
        EXPECT_FALSE(std::filesystem::exists(failing));
        const auto lines = s.SaveLog(s.Dir() + "/after.log");
        if (!lines)
            ADD_FAILURE() << "the log could not be saved";
        return lines;
    }

    Session s;
};

// Each shortcut that opens a modal window opens it once: a key press handled
// twice shows the window again as soon as the user has closed it.
TEST_F(X11E2E, ModalShortcutsActOnce)
{
    ASSERT_TRUE(s.StartBoard());
    ASSERT_TRUE(s.StartProgram()) << "no main window";

    ASSERT_NO_FATAL_FAILURE(ExpectOneModal("ctrl+b", kAboutTitle, "Escape"));
    ASSERT_NO_FATAL_FAILURE(ExpectOneModal("ctrl+p", kSetupTitle, "Escape"));
    // No manual beside the program copy: the not-found message, titled like
    // the main window.
    ASSERT_NO_FATAL_FAILURE(ExpectOneModal("F1", kMainTitle, "Return"));
    ASSERT_NO_FATAL_FAILURE(ExpectOneModal("ctrl+s", kQuestionTitle, "Escape"));
    ASSERT_NO_FATAL_FAILURE(ExpectOneModal("ctrl+r", kQuestionTitle, "Escape"));
    const auto lines = s.SaveLog(s.Dir() + "/after-clear.log");
    ASSERT_TRUE(lines) << "the log could not be saved";
    EXPECT_EQ(Find(*lines, kCleared).size(), 1u) << "Ctrl+R should log its clear once";

    // Declining to disconnect keeps the window and the connection, and asks
    // nothing more.
    s.Press(s.Main(), "ctrl+n");
    ASSERT_TRUE(WaitFor([&] { return s.PortOpen(); }, 20s)) << "Ctrl+N did not open the port";
    ASSERT_NO_FATAL_FAILURE(ExpectOneModal("ctrl+q", kDisconnectTitle, "Escape"));
    EXPECT_EQ(s.Windows(kMainTitle), std::vector<std::string>{s.Main()});
    EXPECT_TRUE(s.Windows(kQuestionTitle).empty()) << "the save question followed a declined disconnect";
    EXPECT_TRUE(s.PortOpen());
}

// A board that answers nothing is dropped by the watchdog 10 s after the
// identification question: never earlier, and not noticeably later. Late is
// measured against the kernel's own rule: a sleep in poll() may end late by
// its timer slack, a thousandth of the timeout, a two-hundredth for a niced
// process (at most 100 ms), and the program inherits our nice value. The
// watchdog keeps the event loop's timer: half a percent of 10 s is nothing a
// user of a dead board notices, and a timer of its own beside the loop's
// would buy only a tighter test.
TEST_F(X11E2E, SilentBoardIsDroppedTenSecondsAfterTheQuestion)
{
    ASSERT_TRUE(s.StartBoard({"--silent-after", "0"}));
    ASSERT_TRUE(s.StartProgram()) << "no main window";
    s.Press(s.Main(), "ctrl+m");
    s.Press(s.Main(), "ctrl+n");
    ASSERT_TRUE(WaitFor([&] { return s.PortOpen(); }, 20s)) << "Ctrl+N did not open the port";
    ASSERT_TRUE(WaitFor([&] { return !s.PortOpen(); }, 30s)) << "the silent board was never dropped";

    const auto lines = s.SaveLog(s.Dir() + "/watchdog.log");
    ASSERT_TRUE(lines) << "the log could not be saved";
    const auto asked = Find(*lines, kConnecting);
    const auto dropped = Find(*lines, kNoBoard);
    ASSERT_EQ(asked.size(), 1u);
    ASSERT_EQ(dropped.size(), 1u);
    const auto t0 = StampMs((*lines)[asked[0]]);
    const auto t1 = StampMs((*lines)[dropped[0]]);
    ASSERT_TRUE(t0 && t1) << "no millisecond timestamps after Ctrl+M:\n"
                          << (*lines)[asked[0]] << '\n'
                          << (*lines)[dropped[0]];
    EXPECT_GE(*t1 - *t0, 10000) << "the watchdog struck early";
    const int slackMs = std::min(100, 10000 / (::getpriority(PRIO_PROCESS, 0) > 0 ? 200 : 1000));
    EXPECT_LE(*t1 - *t0, 10000 + slackMs + 10) << "the watchdog struck late";
}

// The board vanishing right after a reply, while polling runs, is one I/O
// error, then the disconnect, at once; the watchdog has nothing left to say.
TEST_F(X11E2E, HangUpIsOneIoErrorThenDisconnected)
{
    // The program is up before the board, so the connection has time to poll
    // before the hang-up.
    ASSERT_TRUE(s.StartProgram()) << "no main window";
    s.Press(s.Main(), "ctrl+m");
    // Replies: identification, all channels, relay status, then the first
    // rotation query's: the line dies as that one goes out.
    ASSERT_TRUE(s.StartBoard({"--hangup-after-replies", "4"}));
    s.Press(s.Main(), "ctrl+n");
    ASSERT_TRUE(WaitFor([&] { return s.PortOpen(); }, 10s)) << "Ctrl+N did not open the port";
    ASSERT_EQ(s.Board()->Wait(20000), std::optional<int>(0)) << "the simulator did not hang up";
    const auto hangup = LocalMs(std::chrono::system_clock::now());
    const auto hangupTick = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return !s.PortOpen(); }, 15s)) << "the program kept the dead device open";
    // A watchdog left running would strike within 10 s of the last reply.
    std::this_thread::sleep_until(hangupTick + 10500ms);

    const auto trace = s.Trace();
    ASSERT_FALSE(Find(trace, " TX T").empty()) << "no temperature was polled before the hang-up";
    const auto lines = s.SaveLog(s.Dir() + "/hangup.log");
    ASSERT_TRUE(lines) << "the log could not be saved";
    const auto io = Find(*lines, kIoError);
    ASSERT_EQ(io.size(), 1u) << "the I/O error should be reported once";
    EXPECT_NE((*lines)[io[0]].find("COM port:"), std::string::npos) << (*lines)[io[0]];
    const auto gone = Find(*lines, "Disconnected");
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_GT(gone[0], io[0]);
    const auto t = StampMs((*lines)[gone[0]]);
    ASSERT_TRUE(t) << "no millisecond timestamp after Ctrl+M: " << (*lines)[gone[0]];
    EXPECT_LE(*t - hangup, 1000) << "\"Disconnected\" came late after the hang-up";
    EXPECT_TRUE(Find(*lines, kNoBoard).empty()) << "the watchdog struck after the hang-up";
}

// Clear Log whose save fails: the failure is reported once, an error box and
// an "Application ERROR:" line, nothing asks again, and the log the user
// wanted kept is still all there: no restart, no "cleared" line.
TEST_F(X11E2E, ClearLogWithAFailedSaveKeepsTheLog)
{
    const auto lines = FailedClearLog();
    ASSERT_TRUE(lines);
    EXPECT_EQ(Find(*lines, "Application ERROR:").size(), 1u) << "the failed save was not logged once";
    EXPECT_EQ(Find(*lines, "Logging disabled").size(), 1u) << "lines from before the clear were lost";
    EXPECT_TRUE(Find(*lines, kCleared).empty()) << "the log was cleared although its save failed";
}

} // namespace
