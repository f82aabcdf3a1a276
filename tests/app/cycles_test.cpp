// Connecting and disconnecting again and again must leave nothing behind: the
// window, against the real simulator over its pseudo-terminal, connects,
// waits for the board and a reading, and disconnects, many times; afterwards
// it holds as many open files and threads as before, and its memory has grown
// by little more than the log text it keeps.
#include "dmq274.h"
#include "mainwindow.h"
#include "rstrings.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "childprocess.h"
#include "support/mainwidgets.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <dirent.h>
#include <malloc.h>

using namespace q274;
using namespace q274test;

// The sanitizers make every cycle 5 to 20 times slower, and their allocators
// keep freed memory back (quarantine, shadow), so resident memory says
// nothing about leaks there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define Q274_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define Q274_SANITIZED 1
#endif
#endif

namespace {

#ifdef Q274_SANITIZED
constexpr int kCycles = 50;
constexpr bool kBoundMemory = false;
#else
constexpr int kCycles = 500;
constexpr bool kBoundMemory = true;
#endif

q274test::TemporaryHome temporaryHome;

int EntriesIn(const char *folder)
{
    int n = 0;
    if (DIR *d = ::opendir(folder)) {
        while (const dirent *e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}
int OpenFiles() { return EntriesIn("/proc/self/fd"); }
int Threads() { return EntriesIn("/proc/self/task"); }

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

TEST(ConnectCycles, LeaveNoFilesThreadsOrMemoryBehind)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    ChildProcess sim(Q274_SIM_PATH, {"--link", link.toStdString()});
    ASSERT_TRUE(sim.ReadLine(int(kPatience.count())).has_value()) << "the simulator did not start";

    ScriptedDialogs dialogs;
    TdmQ274 dm;
    dm.ComPort()->SetPort(link);
    // At the board's pace the first reading comes 300 ms after the
    // identification; what a connection opens and leaves behind does not
    // depend on that pace, and 500 cycles then fit in seconds.
    dm.Poller().tmrQ->SetInterval(5);
    dm.Poller().tmrTStatus->SetInterval(5);
    auto w = std::make_unique<TfrmMain>(&dm);
    w->StartJournal(QDir(temporaryHome.path).filePath(QStringLiteral("journal")));
    w->WaitForRecovery(); // its thread is not one the cycles leave
    w->ShowLogBanner();
    w->Connection()->Poller().StartCommandSender();

    const QString noReading = QStringLiteral(" -");
    int cycle = 0;
    auto connectReadDisconnect = [&] {
        Ui(*w).btnConn->click();
        ASSERT_TRUE(w->PortIsOpen()) << "cycle " << cycle;
        // A reading is shown only after the board has identified itself.
        ASSERT_TRUE(RunUntil([&] { return Ui(*w).lblCh1->text() != noReading; }))
            << "cycle " << cycle << ": " << w->LogText().right(600).toStdString();
        Ui(*w).btnConn->click();
        ASSERT_FALSE(w->PortIsOpen()) << "cycle " << cycle;
    };

    const int files = OpenFiles();
    const int threads = Threads();
    // The first connection fills what stays for the program's life (Qt's and
    // the allocator's caches): memory counts from after it.
    ASSERT_NO_FATAL_FAILURE(connectReadDisconnect());
    const long residentKb = ResidentKb();
    const qsizetype logChars = w->LogText().size();

    for (cycle = 1; cycle <= kCycles; ++cycle)
        ASSERT_NO_FATAL_FAILURE(connectReadDisconnect());

    // The data-line worker of the last connection ends on its own, shortly after.
    RunUntil([&] { return OpenFiles() <= files && Threads() <= threads; }, 10s);
    EXPECT_EQ(OpenFiles(), files);
    EXPECT_EQ(Threads(), threads);
    EXPECT_EQ(Messages(Ui(*w).memLog->toPlainText(), q274test::kIndent).count(rs::sQ274Found), kCycles + 1);
    EXPECT_TRUE(dialogs.requests.empty());

    // What memory grew by must be the log. The view keeps much more than the
    // text for each line (measured: about ten times its UTF-16 size), so the
    // bound is on what stays once the log is emptied and the allocator has
    // given its free pages back: 4 MB for pages it cannot give back (shared
    // with live blocks, per-thread arenas, cached thread stacks); a leak of 6 kB
    // per connection goes beyond it.
    const long logKb = long((w->LogText().size() - logChars) * qsizetype(sizeof(QChar))) / 1024;
    const long grownKb = ResidentKb() - residentKb;
    w->ShowLogBanner();
    ::malloc_trim(0);
    const long keptKb = ResidentKb() - residentKb;
    std::cout << kCycles << " cycles: " << OpenFiles() << " files, " << Threads() << " threads; resident memory "
              << residentKb << " kB, +" << grownKb << " kB with +" << logKb << " kB of log text, +" << keptKb
              << " kB once the log is emptied\n";
    if (kBoundMemory) {
        EXPECT_LE(keptKb, 4096);
    }
}

} // namespace
