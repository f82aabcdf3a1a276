#include "storeditems.h"

#include <QFile>
#include <QTemporaryDir>

#include "childprocess.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace q274;

namespace {

void PutLE32(QByteArray &out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

quint32 LE32(const QByteArray &b, int at)
{
    const auto *u = reinterpret_cast<const unsigned char *>(b.constData() + at);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

// An item built by hand, so the header can lie about the text length.
QByteArray MakeItem(const QByteArray &text, quint32 claimedTextLength)
{
    QByteArray plain;
    PutLE32(plain, claimedTextLength);
    plain += text;
    uLongf len = compressBound(uLong(plain.size()));
    QByteArray packed(qsizetype(len), '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef *>(packed.data()), &len,
                        reinterpret_cast<const Bytef *>(plain.constData()), uLong(plain.size()), 9),
              Z_OK);
    packed.resize(qsizetype(len));
    QByteArray item;
    PutLE32(item, quint32(len));
    return item + packed;
}

class PackTool : public ::testing::Test {
protected:
    QByteArray Pack(const QByteArray &fileContent)
    {
        const QString in = dir.filePath(QStringLiteral("in.txt"));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        QFile f(in);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(fileContent);
        f.close();
        q274test::ChildProcess p(PACKITEM_PATH, {in.toStdString(), out.toStdString()});
        EXPECT_EQ(p.Wait(30000), std::optional<int>(0));
        QFile r(out);
        EXPECT_TRUE(r.open(QIODevice::ReadOnly));
        return r.readAll();
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(PackTool, RoundTripGivesTheLinesWithCrLfAndNoBreakAfterTheLast)
{
    const QByteArray item = Pack("first line\nsecond  line \r\nthird\n");
    ASSERT_GE(item.size(), 4);
    EXPECT_EQ(LE32(item, 0), quint32(item.size() - 4));

    // The inner layout: N, then exactly the CR LF joined text.
    QByteArray plain(1024, '\0');
    uLongf got = 1024;
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(plain.data()), &got,
                         reinterpret_cast<const Bytef *>(item.constData() + 4), uLong(item.size() - 4)),
              Z_OK);
    plain.resize(qsizetype(got));
    const QByteArray expected = "first line\r\nsecond  line \r\nthird";
    EXPECT_EQ(LE32(plain, 0), quint32(expected.size()));
    EXPECT_EQ(plain.mid(4), expected);

    EXPECT_EQ(InflateStoredItem(item), (QStringList{"first line", "second  line ", "third"}));
}

TEST_F(PackTool, KeepsUtf8TextAndInnerEmptyLines)
{
    const QByteArray item = Pack("Temperatur \xc2\xb0"
                                 "C\n\nend");
    EXPECT_EQ(InflateStoredItem(item), (QStringList{QString::fromUtf8("Temperatur \xc2\xb0"
                                                                      "C"),
                                                    "", "end"}));
}

TEST_F(PackTool, CorruptStreamThrows)
{
    QByteArray item = Pack("some text that is long enough to corrupt\n");
    for (int i = 6; i < item.size(); ++i)
        item[i] = char(item[i] ^ 0x5A);
    EXPECT_THROW(InflateStoredItem(item), StoredItemError);
}

TEST_F(PackTool, TruncatedItemThrows)
{
    const QByteArray item = Pack("some text\nanother line\n");
    EXPECT_THROW(InflateStoredItem(item.left(item.size() - 3)), StoredItemError);
    EXPECT_THROW(InflateStoredItem(item.left(3)), StoredItemError);
    EXPECT_THROW(InflateStoredItem(QByteArray()), StoredItemError);
}

TEST(StoredItems, LengthFieldsThatDoNotFitThrow)
{
    // Text length larger than what the stream inflates to.
    EXPECT_THROW(InflateStoredItem(MakeItem("abc", 100)), StoredItemError);
    // Stream length larger than the bytes present.
    QByteArray item = MakeItem("abc", 3);
    item[0] = char(0xFF);
    item[1] = char(0xFF);
    EXPECT_THROW(InflateStoredItem(item), StoredItemError);
    // Inflated data too short to hold the text length.
    QByteArray tiny;
    uLongf len = 64;
    QByteArray packed(64, '\0');
    compress2(reinterpret_cast<Bytef *>(packed.data()), &len, reinterpret_cast<const Bytef *>("ab"), 2, 9);
    PutLE32(tiny, quint32(len));
    tiny += packed.left(qsizetype(len));
    EXPECT_THROW(InflateStoredItem(tiny), StoredItemError);
    // A shorter text length than the data just takes the stated bytes.
    EXPECT_EQ(InflateStoredItem(MakeItem("abcdef", 3)), QStringList{"abc"});
}

TEST(StoredItems, BuiltInItems)
{
    EXPECT_EQ(LoadStoredItem(QStringLiteral("a2")), QStringList{"Veltrona - Q274 Temperature Controller Standard"});
    EXPECT_EQ(LoadStoredItem(QStringLiteral("y99")), QStringList{"Q274 Temperature Controller Standard"});
    const QStringList a1 = LoadStoredItem(QStringLiteral("a1"));
    ASSERT_EQ(a1.size(), 4);
    EXPECT_TRUE(a1[1].startsWith(QStringLiteral("Copyright")));
    EXPECT_EQ(LoadStoredItem(QStringLiteral("x1")).size(), 5);
    EXPECT_THROW(LoadStoredItem(QStringLiteral("nope")), StoredItemError);
}
