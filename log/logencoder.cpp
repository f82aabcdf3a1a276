#include "logencoder.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace q274 {

namespace {

// True when the locale's encoding gives every ASCII character as its own
// byte, so plain text can be narrowed without the encoder.
bool AsciiIsItself()
{
    static const bool same = [] {
        QString ascii;
        QByteArray expected;
        for (int c = 0; c < 128; ++c) {
            ascii += QLatin1Char(char(c));
            expected += char(c);
        }
        QStringEncoder encoder(QStringConverter::System);
        return QByteArray(encoder.encode(ascii)) == expected;
    }();
    return same;
}

inline bool IsBreak(char16_t c) { return c == u'\n' || c == u'\r'; }

// Copies the leading characters that are ASCII and no line break as bytes;
// returns how many.
qsizetype CopyPlain(const char16_t *src, qsizetype n, char *dst)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen at a time, the common case for a log of data lines.
    const __m128i above7bits = _mm_set1_epi16(short(0xFF80)), lf = _mm_set1_epi16(u'\n'), cr = _mm_set1_epi16(u'\r');
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 8));
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), above7bits), _mm_setzero_si128());
        const __m128i breaks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(a, lf), _mm_cmpeq_epi16(a, cr)),
                                            _mm_or_si128(_mm_cmpeq_epi16(b, lf), _mm_cmpeq_epi16(b, cr)));
        if (_mm_movemask_epi8(ascii) != 0xFFFF || _mm_movemask_epi8(breaks) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < n && src[i] < 0x80 && !IsBreak(src[i]); ++i)
        dst[i] = char(src[i]);
    return i;
}

} // namespace

TLogFileEncoder::TLogFileEncoder(qsizetype capacity, Sink sink)
    : FBuffer(capacity, Qt::Uninitialized), FSink(std::move(sink)), FDirect(AsciiIsItself())
{
    FPos = FBuffer.data();
}

void TLogFileEncoder::Text(QStringView text)
{
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        // Plain text as far as the buffer has room, unless that is little,
        // so a huge text never asks for a huge buffer.
        if (FDirect && !FEncoderOwed) {
            qsizetype step = std::min<qsizetype>(end - p, kChunk);
            if (Free() < std::min<qsizetype>(step, 4096))
                Room(step);
            step = std::min(step, Free());
            const qsizetype n = CopyPlain(p, step, FPos);
            FPos += n;
            p += n;
            if (p == end)
                break;
        }
        if (IsBreak(*p)) {
            p += (*p == u'\r' && p + 1 < end && p[1] == u'\n') ? 2 : 1;
            LineEnd();
            continue;
        }
        // The rest up to the next break goes through the encoder, which holds
        // half a surrogate pair between calls as a whole-text encode would; a
        // quarter chunk at most, which fits the buffer.
        const char16_t *q = p;
        const char16_t *const stop = p + std::min<qsizetype>(end - p, kChunk / 4);
        while (q < stop && !IsBreak(*q))
            ++q;
        Room(FEncoder.requiredSpace(q - p));
        FPos = FEncoder.appendToBuffer(FPos, QStringView(p, q));
        FEncoderOwed = true;
        p = q;
    }
}

void TLogFileEncoder::LineEnd()
{
    if (FDirect && !FEncoderOwed) {
        Room(2);
        *FPos++ = '\r';
        *FPos++ = '\n';
        return;
    }
    // Through the encoder, which settles anything it still holds first.
    Room(FEncoder.requiredSpace(2));
    FPos = FEncoder.appendToBuffer(FPos, u"\r\n");
    FEncoderOwed = false;
}

QByteArray TLogFileEncoder::Take()
{
    FBuffer.truncate(FPos - FBuffer.constData());
    return std::move(FBuffer);
}

void TLogFileEncoder::Flush()
{
    FSink(FBuffer.constData(), FPos - FBuffer.constData());
    FPos = FBuffer.data();
}

void TLogFileEncoder::Room(qsizetype n)
{
    if (Free() >= n)
        return;
    if (FSink)
        Flush();
    const qsizetype used = FPos - FBuffer.constData();
    if (FBuffer.size() - used < n)
        FBuffer.resize(std::max(FBuffer.size() * 2, used + n));
    FPos = FBuffer.data() + used;
}

} // namespace q274
