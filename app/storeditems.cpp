#include "storeditems.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace q274 {

namespace {

std::uint32_t ReadLE32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return std::uint32_t(u[0]) | (std::uint32_t(u[1]) << 8) | (std::uint32_t(u[2]) << 16) | (std::uint32_t(u[3]) << 24);
}

// Items are a few hundred bytes; anything inflating past this is not ours.
constexpr uLongf kMaxInflated = 16u * 1024u * 1024u;

} // namespace

QStringList InflateStoredItem(const QByteArray &item)
{
    if (item.size() < 4)
        throw StoredItemError("stored text item is truncated: no length field");
    const std::uint32_t packedLen = ReadLE32(item.constData());
    if (packedLen == 0 || packedLen > std::uint32_t(item.size() - 4))
        throw StoredItemError("stored text item is truncated: compressed length " + std::to_string(packedLen)
                              + " exceeds the " + std::to_string(item.size() - 4) + " bytes present");

    // The inflated size is not stored outside the stream, so grow the buffer
    // until uncompress has room.
    QByteArray plain;
    uLongf capacity = std::max<uLongf>(256, uLongf(packedLen) * 8);
    for (;;) {
        plain.resize(qsizetype(capacity));
        uLongf got = capacity;
        const int rc = uncompress(reinterpret_cast<Bytef *>(plain.data()), &got,
                                  reinterpret_cast<const Bytef *>(item.constData() + 4), packedLen);
        if (rc == Z_OK) {
            plain.resize(qsizetype(got));
            break;
        }
        if (rc == Z_BUF_ERROR && capacity < kMaxInflated) {
            capacity = std::min<uLongf>(capacity * 2, kMaxInflated);
            continue;
        }
        if (rc == Z_MEM_ERROR)
            throw StoredItemError("stored text item: out of memory while inflating");
        throw StoredItemError("stored text item is corrupt: its compressed stream does not inflate");
    }

    if (plain.size() < 4)
        throw StoredItemError("stored text item is corrupt: inflated data has no text length");
    const std::uint32_t textLen = ReadLE32(plain.constData());
    if (textLen > std::uint32_t(plain.size() - 4))
        throw StoredItemError("stored text item is corrupt: text length " + std::to_string(textLen) + " exceeds the "
                              + std::to_string(plain.size() - 4) + " inflated bytes");
    const QString text = QString::fromUtf8(plain.constData() + 4, qsizetype(textLen));
    return text.split(QStringLiteral("\r\n"));
}

QStringList LoadStoredItem(const QString &name)
{
    QFile f(QStringLiteral(":/items/") + name + QStringLiteral(".bin"));
    if (!f.open(QIODevice::ReadOnly))
        throw StoredItemError("stored text item \"" + name.toStdString() + "\" is missing");
    return InflateStoredItem(f.readAll());
}

} // namespace q274
