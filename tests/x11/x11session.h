// What a user sees: the built program in a real X server (Xvfb), driven by
// real key events through xdotool, against the board simulator on a
// pseudo-terminal. One X server serves the whole test program; each Session
// has its own temporary home, program copy and board.
#pragma once

#include "childprocess.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace q274x11 {

using namespace std::chrono_literals;

// Titles of the program's top-level windows.
inline const std::string kMainTitle = "Veltrona - Q274 Temperature Controller Standard";
inline const std::string kQuestionTitle = "Confirm"; // "Save the Log?"
inline const std::string kDisconnectTitle = "Warning";
inline const std::string kSaveDialogTitle = "Save As"; // Qt's own file dialog
inline const std::string kAboutTitle = "About";
inline const std::string kSetupTitle = "Configure COM Port";

// Polls until cond holds; false when it did not within limit.
bool WaitFor(const std::function<bool()> &cond, std::chrono::milliseconds limit = 10s);

// Local wall-clock time of a log timestamp ("12/8/2026 9:01:02 AM  (047)"),
// in milliseconds on a day count; nothing when the line has no such stamp.
std::optional<long long> StampMs(const std::string &line);
// The same measure for a moment taken here.
long long LocalMs(std::chrono::system_clock::time_point t);

class Session {
public:
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Empty when the X server and xdotool work; otherwise why not.
    const std::string &Unavailable() const { return FUnavailable; }

    // The simulator with its link at BoardLink() and a trace; the program
    // may already be running (it opens the port only on Connect).
    bool StartBoard(const std::vector<std::string> &options = {});
    // A copy of the program in a folder of its own (no manual beside it),
    // with --port BoardLink(); waits for the main window.
    bool StartProgram();

    std::string Dir() const { return FDir; }
    std::string BoardLink() const { return FDir + "/board"; }
    std::vector<std::string> Trace() const;
    q274test::ChildProcess *Board() { return FBoard.get(); }
    const std::string &Main() const { return FMain; }

    // Visible top-level windows with exactly this title.
    std::vector<std::string> Windows(const std::string &title) const;
    // Waits for a visible window with this title that is not in known.
    std::string Await(const std::string &title, const std::vector<std::string> &known = {},
                      std::chrono::milliseconds limit = 10s) const;
    // Waits until the window is no longer visible.
    bool Gone(const std::string &window) const;
    // Gives the window the keyboard focus, then presses the keys
    // (xdotool names: "ctrl+b", "Escape", "Return"; several apart by blanks).
    void Press(const std::string &window, const std::string &keys) const;
    void Type(const std::string &window, const std::string &text) const;
    // Lets the program act on what came before, for checks that something
    // did not happen.
    static void Settle() { ::usleep(700 * 1000); }

    // The program holds the board's device open.
    bool PortOpen() const;

    // Types path into the open file dialog and confirms it.
    bool ChooseFile(const std::string &path) const;
    // Ctrl+S, Yes, the path in the file dialog; the lines of the saved file
    // (CR LF ends removed), or nothing when no file came.
    std::optional<std::vector<std::string>> SaveLog(const std::string &path) const;

private:
    std::string FUnavailable;
    std::string FDir;
    std::string FMain;
    std::string FDevice;
    int FProgramPid = -1;
    std::unique_ptr<q274test::ChildProcess> FBoard;
    std::unique_ptr<q274test::ChildProcess> FProgram;
};

// Lines of a text file without their CR LF ends.
std::vector<std::string> ReadLines(const std::string &path);
// Indexes of the lines that contain text.
std::vector<size_t> Find(const std::vector<std::string> &lines, const std::string &text);

} // namespace q274x11
