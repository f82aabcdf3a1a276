// Stored-item inflation: arbitrary bytes either fail with StoredItemError or
// give text lines; and a text packed the way the build packs it inflates back
// to the same lines.
#include "fuzzcheck.h"
#include "storeditems.h"

#include <zlib.h>

#include <cstdint>
#include <string>

using namespace q274;

namespace {

void PutLE32(std::string &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

std::string Pack(const std::string &text)
{
    std::string plain;
    PutLE32(plain, std::uint32_t(text.size()));
    plain += text;
    uLongf len = compressBound(uLong(plain.size()));
    std::string packed(len, '\0');
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &len, reinterpret_cast<const Bytef *>(plain.data()),
                  uLong(plain.size()), 9)
        != Z_OK)
        std::abort();
    packed.resize(len);
    std::string item;
    PutLE32(item, std::uint32_t(len));
    return item + packed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const QStringList lines = InflateStoredItem(raw);
        FUZZ_CHECK(!lines.isEmpty());
    } catch (const StoredItemError &) {
    }

    const std::string text(reinterpret_cast<const char *>(data), size);
    const QByteArray item = QByteArray::fromStdString(Pack(text));
    const QStringList lines = InflateStoredItem(item);
    FUZZ_CHECK(lines == QString::fromUtf8(raw).split(QStringLiteral("\r\n")));
    // Bytes after the stream (the length field says where it ends) do not count.
    FUZZ_CHECK(InflateStoredItem(item + raw) == lines);
    return 0;
}
