// q274-packitem INPUT OUTPUT
//
// Turns a UTF-8 text file into a stored text item:
//   [4-byte LE L][L bytes: zlib stream of ([4-byte LE N][N text bytes])]
// The text gets CR LF line ends and no line end after its last line.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Splits on LF, CR LF or lone CR; a line end at the very end of the file
// closes the last line rather than opening an empty one.
std::string ToCrLf(const std::string &in)
{
    std::vector<std::string> lines;
    std::string cur;
    bool open = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n')
                ++i;
            lines.push_back(cur);
            cur.clear();
            open = false;
        } else {
            cur += c;
            open = true;
        }
    }
    if (open)
        lines.push_back(cur);
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += "\r\n";
        out += lines[i];
    }
    return out;
}

void PutLE32(std::string &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: q274-packitem INPUT OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "q274-packitem: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    text = ToCrLf(text);

    std::string plain;
    PutLE32(plain, static_cast<std::uint32_t>(text.size()));
    plain += text;

    uLongf packedLen = compressBound(static_cast<uLong>(plain.size()));
    std::vector<Bytef> packed(packedLen);
    if (compress2(packed.data(), &packedLen, reinterpret_cast<const Bytef *>(plain.data()),
                  static_cast<uLong>(plain.size()), Z_BEST_COMPRESSION)
        != Z_OK) {
        std::cerr << "q274-packitem: compression failed\n";
        return 1;
    }

    std::string out;
    PutLE32(out, static_cast<std::uint32_t>(packedLen));
    out.append(reinterpret_cast<const char *>(packed.data()), packedLen);
    std::ofstream os(argv[2], std::ios::binary | std::ios::trunc);
    if (!os.write(out.data(), static_cast<std::streamsize>(out.size()))) {
        std::cerr << "q274-packitem: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
