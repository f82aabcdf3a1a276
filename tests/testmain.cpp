// Test entry point: every test binary gets an offscreen QApplication, so widget
// tests and the blocking hand-off to the user-interface thread work headless,
// and a home folder of its own, so nothing lands in the real one.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include "support/support.h"
#include "uisync.h"

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::optional<q274test::TemporaryHome> home;
    if (!q274test::TemporaryHome::InUse())
        home.emplace();
    QApplication app(argc, argv);
    q274::UiSync::SetMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
