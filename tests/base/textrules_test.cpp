// Trimming and the numbers of the read-outs, in every locale form.
#include "textrules.h"

#include <gtest/gtest.h>

#include <limits>

using namespace q274;

TEST(TrimLine, DropsBlanksAndControlCharactersAtTheEndsOnly)
{
    EXPECT_EQ(TrimLine(QString::fromLatin1("\x1f a b \x7f")), QString::fromLatin1("a b \x7f"));
}

TEST(Fahrenheit, ConversionAndTwoDecimals)
{
    EXPECT_NEAR(CelsiusToFahrenheit(24.06), 75.308, 1e-12);
    EXPECT_DOUBLE_EQ(CelsiusToFahrenheit(-40.0), -40.0);
    EXPECT_DOUBLE_EQ(CelsiusToFahrenheit(100.0), 212.0);
    EXPECT_EQ(FormatTwoDecimals(75.308, '.'), "75.31");
    EXPECT_EQ(FormatTwoDecimals(75.308, ','), "75,31");
    EXPECT_EQ(FormatTwoDecimals(5.0, '.'), "5.00");
    EXPECT_EQ(FormatTwoDecimals(-0.004, '.'), "0.00");
    EXPECT_EQ(FormatTwoDecimals(-4.004, '.'), "-4.00");
    // Five significant digits at most.
    EXPECT_EQ(FormatTwoDecimals(1234.567, '.'), "1234.60");
    EXPECT_EQ(FormatTwoDecimals(302.0, '.'), "302.00");
}

TEST(Fahrenheit, InfinityHasNoDigitsToCount)
{
    // Counting its digits converted infinity to int (undefined behaviour).
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FormatTwoDecimals(inf, '.'), "inf");
    EXPECT_EQ(FormatTwoDecimals(-inf, ','), "-inf");
}

TEST(ParseLocaleFloat, AcceptsNumbersInTheLocaleForm)
{
    EXPECT_EQ(ParseLocaleFloat(" 24.06", '.'), 24.06);
    EXPECT_EQ(ParseLocaleFloat("24,06 ", ','), 24.06);
    EXPECT_EQ(ParseLocaleFloat("-15", '.'), -15.0);
    EXPECT_EQ(ParseLocaleFloat("+3", '.'), 3.0);
    EXPECT_EQ(ParseLocaleFloat("1.5E2", '.'), 150.0);
    EXPECT_EQ(ParseLocaleFloat(".5", '.'), 0.5);
}

TEST(ParseLocaleFloat, RejectsEverythingElse)
{
    for (const char *text :
         {"", "   ", "-", "abc", "12a", "1.2.3", "1 2", "1,5", "e5", "1e", "nan", "inf", "0x10", "1e999", "--1", "."})
        EXPECT_FALSE(ParseLocaleFloat(text, '.')) << text;
    EXPECT_FALSE(ParseLocaleFloat("24.06", ','));
    EXPECT_FALSE(ParseLocaleFloat("1,2,3", ','));
}
