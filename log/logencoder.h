// Log text to log file bytes at memory speed: the fast path of the log saver
// (log/logfiles.cpp), kept apart so the saver reads plainly. Its reason is
// bench/bench_save.cpp (BM_SaveBytesStreamed and the two beside it): line after
// line through QStringEncoder took 3.7 times as long, and a plain loop the
// compiler vectorises narrowed data lines a third slower than the SSE2 one.
#pragma once

#include <QByteArray>
#include <QStringEncoder>
#include <QStringView>

#include <functional>

namespace q274 {

// Every line break (CR LF, a lone CR or a lone LF) becomes CR LF, and the rest
// goes through the locale's encoder, as one encode of the whole text would.
// The bytes stay in memory, or, given a sink, are handed to it whenever the
// buffer fills, so a long log never needs a second copy of itself.
class TLogFileEncoder {
public:
    // The buffer of a save through a sink, and the most characters taken at once.
    static constexpr qsizetype kChunk = qsizetype(1) << 20;
    // Takes the bytes of a full buffer (and of the last one, at Flush).
    using Sink = std::function<void(const char *data, qsizetype size)>;

    explicit TLogFileEncoder(qsizetype capacity, Sink sink = {});

    void Text(QStringView text);
    void LineEnd();
    // The bytes, without a sink.
    QByteArray Take();
    // What the buffer holds, to the sink.
    void Flush();

private:
    qsizetype Free() const { return FBuffer.constData() + FBuffer.size() - FPos; }
    // At least n bytes free at FPos.
    void Room(qsizetype n);

    QByteArray FBuffer;
    char *FPos;
    Sink FSink; // none: the bytes stay in FBuffer
    QStringEncoder FEncoder{QStringConverter::System};
    const bool FDirect;
    bool FEncoderOwed = false; // the encoder may hold half a character
};

} // namespace q274
