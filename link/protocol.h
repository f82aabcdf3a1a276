// The board's reply syntax as plain functions: assembling received bytes into
// reply lines, recognising the kinds of reply and turning their fields into
// read-out texts.
#pragma once

#include <QChar>
#include <QString>

#include "textrules.h"

#include <array>
#include <optional>
#include <string>

namespace q274 {

// Logged whenever a reply cannot be used.
inline const QString kDataErrorText = QStringLiteral("Data error. Waiting for next data.");

// Collects received bytes until a line end arrives; then the whole buffer,
// text after the line end included, is one reply line.
class ReplyAssembler {
public:
    // A board line is short; anything longer without a line end is noise.
    static constexpr qsizetype kMaxLength = 4096;

    enum class LineStatus { Waiting, Line, Overflow };
    struct Result {
        LineStatus Status = LineStatus::Waiting;
        QString Line; // the trimmed line, without any CR or LF (status Line)
    };

    // Appends bytes (one byte, one character). Returns Line with the reply and
    // empties the buffer when the buffer holds a CR or LF anywhere; Overflow
    // (buffer dropped) when it grew past kMaxLength without one, once for the
    // whole overlong line however long it goes on; else Waiting.
    Result Feed(const std::string &bytes);

    void Clear()
    {
        FBuffer.clear();
        FOverflowed = false;
    }
    const QString &Buffer() const { return FBuffer; }

private:
    QString FBuffer;
    bool FOverflowed = false; // the line now arriving was already reported too long
};

// Identification reply: the line contains "?Temperature".
bool IsIdentificationReply(const QString &line);
// The board's self-description: the line after the "?" of the first
// "?Temperature" (everything before it dropped).
QString IdentificationText(const QString &line);

// Relay status reply: the line contains "S0".
bool IsRelayStatusReply(const QString &line);
// The status digits: the line without its first two characters.
QString RelayStatusText(const QString &line);

// Temperature reply: the line contains any of "T1".."T4" or "T0".
bool IsTemperatureReply(const QString &line);
// All-channel reply: the line contains "T0".
bool IsAllChannelReply(const QString &line);

struct ChannelReply {
    int Channel = 0; // 1..4
    QString Value;   // everything after the first two characters
};
// A single-channel reply: the second character is the channel digit. Lines
// whose second character is not a digit 1..4 have no read-out: nullopt.
std::optional<ChannelReply> ParseChannelReply(const QString &line);

// The four fields of an all-channel reply: the first two characters dropped,
// every "?" turned into "-", fields 1 to 3 up to the next ",", field 4 the
// rest. A field without its "," is empty.
std::array<QString, 4> SplitAllChannels(const QString &line);

// The read-out text for one board value: " -" when value equals noSensor
// ("?" in a single-channel reply, "-" in an all-channel field); otherwise a
// blank and the value, with its first "." turned into "," for a ","
// separator, or converted to Fahrenheit with two decimals. nullopt when the
// Fahrenheit conversion cannot read the value or its result is not finite.
std::optional<QString> ReadoutText(const QString &value, bool useFahrenheit, QChar decimalSep,
                                   const QString &noSensor = QStringLiteral("?"));

// The relay bits of a status text: hexadecimal digits in either case, no
// blanks inside (outer ones are trimmed). Only the four relay bits are kept.
// nullopt for an empty or non-hexadecimal text.
std::optional<unsigned> ParseRelayStatus(const QString &text);

} // namespace q274
