#include "shellrules.h"

#include "support/support.h"

#include <gtest/gtest.h>

using namespace q274;

TEST(Shortcuts, OnlyCtrlIsTestedAndKeypadDigitsCount)
{
    const auto ctrl = Qt::ControlModifier;
    EXPECT_EQ(ShortcutFor(Qt::Key_S, ctrl), ShortcutAction::SaveLog);
    EXPECT_EQ(ShortcutFor(Qt::Key_S, ctrl | Qt::ShiftModifier), ShortcutAction::SaveLog);
    EXPECT_EQ(ShortcutFor(Qt::Key_S, ctrl | Qt::AltModifier), ShortcutAction::SaveLog);
    EXPECT_EQ(ShortcutFor(Qt::Key_S, Qt::NoModifier), ShortcutAction::None);
    EXPECT_EQ(ShortcutFor(Qt::Key_S, Qt::ShiftModifier), ShortcutAction::None);
    EXPECT_EQ(ShortcutFor(Qt::Key_1, ctrl), ShortcutAction::Relay1);
    EXPECT_EQ(ShortcutFor(Qt::Key_1, ctrl | Qt::KeypadModifier), ShortcutAction::Relay1);
    EXPECT_EQ(ShortcutFor(Qt::Key_4, ctrl | Qt::KeypadModifier), ShortcutAction::Relay4);
    EXPECT_EQ(ShortcutFor(Qt::Key_1, Qt::KeypadModifier), ShortcutAction::None);
    // The digit row by position: Ctrl+Shift+1 arrives as "!", and layouts
    // such as French give "&" for the same key.
    EXPECT_EQ(ShortcutFor(Qt::Key_Exclam, ctrl | Qt::ShiftModifier, 10), ShortcutAction::Relay1);
    EXPECT_EQ(ShortcutFor(Qt::Key_Ampersand, ctrl, 10), ShortcutAction::Relay1);
    EXPECT_EQ(ShortcutFor(Qt::Key_Dollar, ctrl | Qt::ShiftModifier, 13), ShortcutAction::Relay4);
    EXPECT_EQ(ShortcutFor(Qt::Key_Exclam, Qt::ShiftModifier, 10), ShortcutAction::None);
    EXPECT_EQ(ShortcutFor(Qt::Key_5, ctrl, 14), ShortcutAction::None);
    EXPECT_EQ(ShortcutFor(Qt::Key_5, ctrl), ShortcutAction::None);
}

TEST(Shortcuts, F1WithAnyModifiersAndEscapeDoesNothing)
{
    EXPECT_EQ(ShortcutFor(Qt::Key_F1, Qt::NoModifier), ShortcutAction::Help);
    EXPECT_EQ(ShortcutFor(Qt::Key_F1, Qt::ControlModifier | Qt::ShiftModifier), ShortcutAction::Help);
    EXPECT_EQ(ShortcutFor(Qt::Key_Escape, Qt::NoModifier), ShortcutAction::None);
    EXPECT_EQ(ShortcutFor(Qt::Key_Escape, Qt::ControlModifier), ShortcutAction::None);
}

TEST(Shortcuts, FullTable)
{
    const auto c = Qt::ControlModifier;
    EXPECT_EQ(ShortcutFor(Qt::Key_Q, c), ShortcutAction::Close);
    EXPECT_EQ(ShortcutFor(Qt::Key_N, c), ShortcutAction::Connect);
    EXPECT_EQ(ShortcutFor(Qt::Key_E, c), ShortcutAction::ToggleLogging);
    EXPECT_EQ(ShortcutFor(Qt::Key_B, c), ShortcutAction::About);
    EXPECT_EQ(ShortcutFor(Qt::Key_P, c), ShortcutAction::ComPort);
    EXPECT_EQ(ShortcutFor(Qt::Key_R, c), ShortcutAction::ClearLog);
    EXPECT_EQ(ShortcutFor(Qt::Key_T, c), ShortcutAction::ShowControlPage);
    EXPECT_EQ(ShortcutFor(Qt::Key_L, c), ShortcutAction::ShowLogPage);
    EXPECT_EQ(ShortcutFor(Qt::Key_M, c), ShortcutAction::ToggleMilliseconds);
    EXPECT_EQ(ShortcutFor(Qt::Key_G, c), ShortcutAction::ShowChartPage);
    EXPECT_EQ(ShortcutFor(Qt::Key_G, Qt::NoModifier), ShortcutAction::None);
    EXPECT_EQ(ShortcutFor(Qt::Key_2, c), ShortcutAction::Relay2);
    EXPECT_EQ(ShortcutFor(Qt::Key_3, c), ShortcutAction::Relay3);
}

TEST(ErrorBox, AppendsAFullStopOnlyAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(ErrorBoxText(QStringLiteral("Port busy")), QStringLiteral("Port busy."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("code 23")), QStringLiteral("code 23."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("Done.")), QStringLiteral("Done."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("Really!")), QStringLiteral("Really!"));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("(x)")), QStringLiteral("(x)"));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("path/")), QStringLiteral("path/."));
    EXPECT_EQ(ErrorBoxText(QString()), QString());
}

TEST(CloseQuestion, JoinsBothTextsWithCrLf)
{
    EXPECT_EQ(DisconnectQuestion(),
              QStringLiteral("A monitoring and control session is in progress. \r\nDo you wish to disconnect?"));
}
