// Test entry point: every test binary gets an offscreen QApplication, so widget
// tests and the blocking hand-off to the user-interface thread work headless.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "uisync.h"

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    q274::UiSync::setMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
