// Saving where others may have been first: links planted in a shared folder
// and names taken ahead of a save the program names itself.
#include "logfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace q274;

namespace {
QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A link at name to target, made as another user would: owned by nobody.
// False where the test cannot give it away.
bool PlantForeignLink(const QString &target, const QString &name)
{
    const passwd *nobody = ::getpwnam("nobody");
    return ::geteuid() == 0 && nobody && QFile::link(target, name)
           && ::lchown(QFile::encodeName(name).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
}
} // namespace

TEST(SafeSave, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed)
{
    QTemporaryDir home;
    const QString shared = home.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkdir(shared));
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    const QString keys = home.filePath(QStringLiteral("authorized_keys"));
    Write(keys, "ssh-ed25519 mine\n");
    const QString planted = shared + QStringLiteral("/Q274TC_01-02-2026_10-00-00.log");
    if (!PlantForeignLink(keys, planted))
        GTEST_SKIP() << "a link of another user needs root to make";
    try {
        WriteLogFileBytes(planted, "log\r\n");
        ADD_FAILURE() << "saved through the link";
    } catch (const LogFileError &e) {
        EXPECT_NE(std::string(e.what()).find("another user"), std::string::npos) << e.what();
    }
    // The name is the program's own choice: a new file beside it.
    EXPECT_EQ(WriteNewLogFileBytes(planted, "log\r\n"), planted.chopped(4) + QStringLiteral("-2.log"));
    EXPECT_EQ(Read(keys), QByteArray("ssh-ed25519 mine\n"));
    EXPECT_TRUE(QFileInfo(planted).isSymLink());
    // A link of the user's own there is still theirs to save through.
    const QString mine = shared + QStringLiteral("/mine.log");
    ASSERT_TRUE(QFile::link(keys, mine));
    WriteLogFileBytes(mine, "kept\r\n");
    EXPECT_EQ(Read(keys), QByteArray("kept\r\n"));
}

TEST(SafeSave, ANewFileNeverReplacesOrFollowsWhatHasItsName)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("Q274TC_x.log"));
    const QString other = dir.filePath(QStringLiteral("other"));
    Write(other, "other\n");
    Write(name, "first\n");
    ASSERT_TRUE(QFile::link(other, dir.filePath(QStringLiteral("Q274TC_x-2.log"))));
    EXPECT_EQ(WriteNewLogFile(name, QStringLiteral("a\nb")), dir.filePath(QStringLiteral("Q274TC_x-3.log")));
    EXPECT_EQ(Read(dir.filePath(QStringLiteral("Q274TC_x-3.log"))), QByteArray("a\r\nb\r\n"));
    EXPECT_EQ(Read(name), QByteArray("first\n"));
    EXPECT_EQ(Read(other), QByteArray("other\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 4); // no temporary left
}
