// The log model without a widget: what gets in, how it reads as a file, what
// a view is told, and the autosave count.
#include "logfiles.h"
#include "logmodel.h"

#include <gtest/gtest.h>

using namespace q274;

TEST(LogModel, FilterTimestampsRestartAndAutosave)
{
    TLogModel log;
    log.Locale = QLocale(QLocale::English, QLocale::UnitedStates);
    log.Clock = [] { return QDateTime(QDate(2008, 10, 25), QTime(15, 49, 29, 47)); };
    QStringList seen;
    int restarts = 0;
    log.OnAppend = [&](const QString &l) { seen << l; };
    log.OnRestart = [&] { ++restarts; };

    log.Restart({QStringLiteral("Q274"), QStringLiteral("(C)")}, QStringLiteral(">"));
    EXPECT_EQ(restarts, 1);
    log.ShowMilliseconds = true;
    EXPECT_TRUE(log.LogMessage(QStringLiteral(" on")));
    log.Enabled = false;
    EXPECT_FALSE(log.LogMessage(QStringLiteral(" dropped")));
    EXPECT_TRUE(log.LogMessage(QStringLiteral(" Logging disabled"))); // never with milliseconds
    log.AppendLine(QStringLiteral("a\rb"));
    EXPECT_EQ(log.Text(), QStringLiteral(">Q274\r\n>(C)\r\n\r\n\r\n"
                                         "10/25/2008 3:49:29 PM  (047) on\r\n"
                                         "10/25/2008 3:49:29 PM Logging disabled\r\n"
                                         "a\r\nb\r\n"));
    EXPECT_EQ(seen.size(), 4);

    log.LastAutosaveTime = log.Clock();
    EXPECT_FALSE(log.AutosaveDue(log.Clock().addSecs(86399)));
    EXPECT_TRUE(log.AutosaveDue(log.Clock().addDays(1)));
    log.AutosaveDone(log.Clock().addDays(1));
    EXPECT_EQ(log.AutosaveCount, 1);
    EXPECT_FALSE(log.AutosaveDue(log.Clock().addDays(1)));
}

TEST(LogModel, AFloodOfOneMessageIsWrittenOnceASecondWithItsCount)
{
    TLogModel log;
    QDateTime now(QDate(2026, 12, 8), QTime(9, 0, 0));
    log.Clock = [&] { return now; };
    log.RepeatLimited = QStringLiteral(" Data error");
    auto step = [&](int ms) { now = now.addMSecs(ms); };

    EXPECT_TRUE(log.LogMessage(QStringLiteral(" Data error"))); // the first is written
    step(300);
    EXPECT_FALSE(log.LogMessage(QStringLiteral(" Data error")));
    EXPECT_TRUE(log.LogMessage(QStringLiteral(" other"))); // other lines are not held
    step(699);
    EXPECT_FALSE(log.LogMessage(QStringLiteral(" Data error")));
    EXPECT_EQ(log.RepeatsPending(), 2);
    step(1); // a second after the written one
    EXPECT_TRUE(log.LogMessage(QStringLiteral(" Data error")));
    EXPECT_TRUE(log.Lines().last().endsWith(QStringLiteral(" Data error (repeated 3 times)")));

    step(500);
    EXPECT_FALSE(log.LogMessage(QStringLiteral(" Data error")));
    EXPECT_EQ(log.FlushRepeats(), 500) << "never two lines within a second";
    step(500);
    EXPECT_EQ(log.FlushRepeats(), 0); // the flood stopped: its count still shows
    EXPECT_TRUE(log.Lines().last().endsWith(QStringLiteral(" Data error (repeated 1 times)")));
    step(1000); // after a quiet second the message is plain again
    EXPECT_TRUE(log.LogMessage(QStringLiteral(" Data error")));
    EXPECT_TRUE(log.Lines().last().endsWith(QStringLiteral(" Data error")));
    EXPECT_EQ(log.Lines().size(), 5);
}

TEST(LogModel, KeepsAnyTextAndItsFileBytesExactly)
{
    TLogModel log;
    const QString odd = QStringLiteral("21.5 \u00b0C, 5 \u00b5A, \u20ac, \U0001F321\t");
    log.Restart({QStringLiteral("Q274")}, QStringLiteral("\t"));
    log.AppendLine(odd);
    log.AppendLine(QStringLiteral("a\r\nb\n\nc"));
    log.AppendLine(QString());
    const QStringList expected{"\tQ274", "", "", odd, "a", "b", "", "c", ""};
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(log.Count(), expected.size());
    EXPECT_EQ(log.Line(3), odd);
    EXPECT_EQ(log.Text(), expected.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    // Saved as the text would be (the system's 8-bit encoding is UTF-8 here).
    ASSERT_TRUE(log.FileBytes());
    EXPECT_EQ(*log.FileBytes(), LogFileBytes(log.Text()));

    log.Restart({QStringLiteral("two\nlines"), QStringLiteral("x\r\ny")}, QString());
    EXPECT_EQ(log.Text(), QStringLiteral("two\nlines\r\nx\r\ny\r\n\r\n\r\n"));
    EXPECT_EQ(log.FileBytes().value_or(LogFileBytes(log.Text())), LogFileBytes(log.Text()));
    // Every line found again, however far from the last one marked.
    QStringList all{"two\nlines", "x\r\ny", "", ""};
    for (int i = 0; i < 300; ++i)
        log.AppendLine(all.emplace_back(QString(i % 7, QLatin1Char('x'))));
    EXPECT_EQ(log.Lines(), all);
    for (qsizetype i = 0; i < log.Count(); ++i)
        ASSERT_EQ(log.Line(i), all[i]) << i;
}
