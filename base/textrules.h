// Text and number rules shared by every floor: trimming a line, and reading
// and writing numbers in the form a read-out shows them.
#pragma once

#include <QChar>
#include <QString>

#include <optional>

namespace q274 {

// Removes leading and trailing blanks and control characters (every
// character up to U+0020).
QString TrimLine(const QString &text);

// Celsius * 1.8 + 32, worked out in extended precision.
double CelsiusToFahrenheit(double celsius);

// Reads a number as a read-out shows it: optional sign, ASCII digits,
// optional fraction and exponent; leading and trailing blanks allowed. The
// fraction follows decimalSep, or a "." unless decimalSep is ",": locales
// such as Persian or Arabic ("\u066B") show the board's Celsius text as sent
// but their own separator in Fahrenheit values. Anything else (empty,
// letters, a second separator, a "." when the separator is ",") fails.
std::optional<double> ParseLocaleFloat(const QString &text, QChar decimalSep);

// Fixed-point text with two decimals, at most five significant digits, with
// the given decimal separator and always ASCII digits (75.308 -> "75.31"),
// so the board's text and converted values read alike in every locale.
// Infinity and NaN give "inf", "-inf" and "nan".
QString FormatTwoDecimals(double value, QChar decimalSep);

} // namespace q274
