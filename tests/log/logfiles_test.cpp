#include "logfiles.h"

#include "timestamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace q274;

namespace {

const QLocale us(QStringLiteral("en_US"));
const QDate day(2008, 10, 25);
const QTime moment(15, 49, 36);

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

// Dangling links count too (QDir hides them unless System is asked for).
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void makeLink(const QByteArray &to, const QString &at)
{
    ASSERT_EQ(::symlink(to.constData(), QFile::encodeName(at).constData()), 0) << at.toStdString();
}

// The error text of a save, empty when it succeeded.
std::string saveError(const QString &path, const QString &text)
{
    try {
        WriteLogFile(path, text);
    } catch (const LogFileError &e) {
        return e.what();
    }
    return {};
}

// saveError as an ordinary user: root may write any file (as `echo >` may).
// As root the save runs under another real and effective user id; root
// stays the saved id, so the test takes it back. Nothing when not possible.
std::optional<std::string> saveErrorAsUser(const QString &path, const QString &text)
{
    if (::geteuid() != 0)
        return saveError(path, text);
    if (::setresuid(65534, 65534, 0) != 0)
        return std::nullopt;
    const std::string error = saveError(path, text);
    if (::setresuid(0, 0, 0) != 0)
        std::abort();
    return error;
}

} // namespace

TEST(LogFileNames, UnitedStatesAndOtherSeparators)
{
    EXPECT_EQ(LogFileDatePart(day, us), "10-25-2008");
    EXPECT_EQ(LogFileTimePart(moment), "15-49-36");
    EXPECT_EQ(LogFileTimePart(QTime(3, 4, 5)), "03-04-05");
    EXPECT_EQ(ManualLogName(day, moment, us), "Q274TC_10-25-2008_15-49-36");
    EXPECT_EQ(AutosaveFileName("/home/u/Documents/Q274", day, moment, us),
              "/home/u/Documents/Q274/Q274TC_10-25-2008_15-49-36.log");
    EXPECT_EQ(LogFileDatePart(day, QLocale(QStringLiteral("de_DE"))), "25-10-2008");
    EXPECT_EQ(ManualLogName(QDate(2009, 1, 2), QTime(0, 0, 0), QLocale(QStringLiteral("de_DE"))),
              "Q274TC_02-01-2009_00-00-00");
    EXPECT_EQ(LogFileDatePart(day, QLocale::c()), "2008-10-25");
}

TEST(Autosave, IntervalTableIsExactAndCaseSensitive)
{
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays("1h"), 0.04167);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays("3h"), 0.125);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays("6h"), 0.25);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays("12h"), 0.5);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays("24h"), 1.0);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays("1H"), 1.0);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays(" 6h"), 1.0);
    EXPECT_DOUBLE_EQ(AutosaveIntervalDays(""), 1.0);
}

TEST(Autosave, DueOnceTheIntervalHasPassed)
{
    const QDateTime opened(day, QTime(8, 0, 0));
    EXPECT_FALSE(AutosaveDue(opened.addSecs(23 * 3600 + 59 * 60), opened, 1.0));
    EXPECT_TRUE(AutosaveDue(opened.addSecs(24 * 3600), opened, 1.0));
    EXPECT_TRUE(AutosaveDue(opened.addSecs(25 * 3600), opened, 1.0));
    EXPECT_FALSE(AutosaveDue(opened.addSecs(3600), opened, 0.04167)); // 0.04167 d is 3600.3 s
    EXPECT_TRUE(AutosaveDue(opened.addSecs(3601), opened, 0.04167));
    EXPECT_FALSE(AutosaveDue(opened.addSecs(-60), opened, 0.04167));
}

TEST(LogFolder, DocumentsFolderAndCreation)
{
    EXPECT_TRUE(LogFolderPath().endsWith("/Q274"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/Q274";
    EXPECT_TRUE(EnsureLogFolder(folder));
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_TRUE(EnsureLogFolder(folder)); // already there
    // One level only; a failure is not an error.
    EXPECT_FALSE(EnsureLogFolder(dir.path() + "/missing/Q274"));
}

TEST(LogFolder, HomeTakesThePlaceOfAMissingDocumentsFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());

    QString path = QStringLiteral("unchanged");
    EXPECT_FALSE(GetSpecialFolderPath(CSIDL_PERSONAL, path));
    EXPECT_EQ(path, QStringLiteral("unchanged"));
    EXPECT_EQ(LogFolderPath(), home.path() + "/Q274");

    ASSERT_TRUE(QDir(home.path()).mkdir("Documents"));
    EXPECT_TRUE(GetSpecialFolderPath(CSIDL_PERSONAL, path));
    EXPECT_EQ(path, home.path() + "/Documents");
    EXPECT_EQ(LogFolderPath(), home.path() + "/Documents/Q274");
    EXPECT_FALSE(GetSpecialFolderPath(6, path)) << "only the documents folder is known";

    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

TEST(LogFileWrite, CrLfLinesWithoutByteOrderMark)
{
    EXPECT_EQ(LogFileBytes("a\nb"), QByteArray("a\r\nb\r\n"));
    EXPECT_EQ(LogFileBytes("a\r\nb\r\n"), QByteArray("a\r\nb\r\n"));
    EXPECT_EQ(LogFileBytes("\n\nx"), QByteArray("\r\n\r\nx\r\n"));
    EXPECT_EQ(LogFileBytes(""), QByteArray());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/Q274TC_10-25-2008_15-49-36.log";
    const QString text =
        MessageIndent + QString::fromUtf8("Veltrona \u00b0C") + "\n\n\n10/25/2008 3:49:37 PM\t24.06\t  -";
    WriteLogFile(path, text);
    const QByteArray bytes = readAll(path);
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(bytes, MessageIndent.toUtf8() + QString::fromUtf8("Veltrona \u00b0C").toLocal8Bit()
                         + "\r\n\r\n\r\n10/25/2008 3:49:37 PM\t24.06\t  -\r\n");
    // Replacing keeps nothing of the old contents and leaves no stray file.
    WriteLogFile(path, "short");
    EXPECT_EQ(readAll(path), QByteArray("short\r\n"));
    EXPECT_EQ(entries(dir.path()), QStringList{"Q274TC_10-25-2008_15-49-36.log"});
}

TEST(LogFileWrite, ReplacedFileKeepsItsPermissions)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/a.log";
    WriteLogFile(path, "one");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    WriteLogFile(path, "two");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(LogFileWrite, TargetIsAFolderThrowsAndLeavesItAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/taken.log";
    ASSERT_TRUE(QDir().mkdir(path));
    try {
        WriteLogFile(path, "text");
        FAIL() << "no error";
    } catch (const LogFileError &e) {
        EXPECT_EQ(QString::fromStdString(e.what()), "Cannot create file \"" + path + "\". Is a directory");
    }
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(entries(dir.path()), QStringList{"taken.log"});
}

TEST(LogFileWrite, MissingFolderThrowsWithPathAndReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/gone/x.log";
    try {
        WriteLogFile(path, "text");
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(QString::fromStdString(e.what()), "Cannot create file \"" + path + "\". No such file or directory");
    }
}

TEST(LogFileWrite, ReadOnlyFolderThrowsAndExistingFileSurvives)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/kept.log";
    WriteLogFile(path, "old contents");
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    if (::access(folder.constData(), W_OK) == 0) {
        ::chmod(folder.constData(), 0755);
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    try {
        WriteLogFile(path, "new contents");
        ADD_FAILURE() << "no error";
    } catch (const LogFileError &e) {
        EXPECT_EQ(QString::fromStdString(e.what()), "Cannot create file \"" + path + "\". Permission denied");
    }
    ::chmod(folder.constData(), 0755);
    EXPECT_EQ(readAll(path), QByteArray("old contents\r\n"));
    EXPECT_EQ(entries(dir.path()), QStringList{"kept.log"});
}

TEST(LogFileWrite, ReadOnlyFileIsRefusedAndSurvives)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/locked.log";
    WriteLogFile(path, "old contents");
    // The folder lets anyone replace the file, only the file says no.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    const std::optional<std::string> error = saveErrorAsUser(path, "new contents");
    if (!error)
        GTEST_SKIP() << "could not save as an ordinary user";
    EXPECT_EQ(*error, ("Cannot create file \"" + path + "\". Permission denied").toStdString());
    EXPECT_EQ(readAll(path), QByteArray("old contents\r\n"));
    EXPECT_EQ(entries(dir.path()), QStringList{"locked.log"});
}

TEST(LogFileWrite, SymbolicLinksAreWrittenThroughAndStayLinks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString real = dir.path() + "/real", links = dir.path() + "/links";
    ASSERT_TRUE(QDir().mkdir(real));
    ASSERT_TRUE(QDir().mkdir(links));
    const QString target = real + "/kept.log";
    WriteLogFile(target, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);

    // A chain of relative links, each resolved from its own folder.
    makeLink("../real/kept.log", links + "/b.log");
    makeLink("b.log", links + "/a.log");
    WriteLogFile(links + "/a.log", "new");
    EXPECT_EQ(readAll(target), QByteArray("new\r\n"));
    EXPECT_TRUE(QFileInfo(links + "/a.log").isSymLink());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A dangling link gets its target when the target's folder exists ...
    makeLink("../real/fresh.log", links + "/c.log");
    WriteLogFile(links + "/c.log", "fresh");
    EXPECT_EQ(readAll(real + "/fresh.log"), QByteArray("fresh\r\n"));
    EXPECT_TRUE(QFileInfo(links + "/c.log").isSymLink());
    // ... and fails like any write into a missing folder otherwise; a loop fails too.
    makeLink("../gone/x.log", links + "/d.log");
    EXPECT_EQ(saveError(links + "/d.log", "x"),
              ("Cannot create file \"" + links + "/d.log\". No such file or directory").toStdString());
    makeLink("e.log", links + "/e.log");
    EXPECT_EQ(saveError(links + "/e.log", "x"),
              ("Cannot create file \"" + links + "/e.log\". Too many levels of symbolic links").toStdString());
    EXPECT_TRUE(QFileInfo(links + "/d.log").isSymLink());
    EXPECT_TRUE(QFileInfo(links + "/e.log").isSymLink());
    EXPECT_EQ(entries(real), (QStringList{"fresh.log", "kept.log"}));
    EXPECT_EQ(entries(links), (QStringList{"a.log", "b.log", "c.log", "d.log", "e.log"}));
}

namespace {

// How the bytes were made before the one-pass encoder; every way of making
// them now must give the same.
QByteArray bytesAsBefore(const QString &viewText)
{
    QString text = viewText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QString lines;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        lines += text.mid(start, end - start) + QStringLiteral("\r\n");
        start = end + 1;
    }
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(lines);
}

} // namespace

TEST(LogFileWrite, EveryWayGivesTheBytesOfBefore)
{
    const QString longer = QStringLiteral("0123456789abcdef0123456789abcdef");
    const QChar high(0xD83D), low(0xDE00);
    const QStringList awkward = {
        "",
        "\r",
        "\n",
        "\r\n",
        "\n\r",
        "\r\r\n",
        "a\rb",
        "a\r\nb",
        "a\nb\n",
        "no final break",
        "ends in CR\r",
        QString::fromUtf8("\u0413\u0440\u0430\u0434\u0443\u0441 \u00b0C\t\u65e5\u672c\r\nx\u00e9"),
        longer + "\n" + longer + "\u00b0" + longer + "\r" + longer,
        QString(high) + low + "pair",
        QString(high) + "\r\nlone high",
        QString(low) + "lone low",
        "lone high" + QString(high),
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/a.log";
    for (const QString &text : awkward) {
        EXPECT_EQ(LogFileBytes(text), bytesAsBefore(text)) << text.toStdString();
        WriteLogFile(path, text);
        EXPECT_EQ(readAll(path), bytesAsBefore(text)) << text.toStdString();
    }
    // The lines as the window holds them, joined with CR LF today; with more
    // than the 1 MiB written at a time, so buffer ends fall inside lines, and
    // lines longer than what is encoded at once.
    QStringList lines = awkward;
    lines << QString(1100000, u'x') << QString(300000, QChar(0xE9));
    for (int i = 0; i < 40000; ++i)
        lines += (i % 7 ? longer : QString::fromUtf8("\u00b0") + longer) + QString(high) + QString(low);
    const QString joined = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    const QByteArray expected = bytesAsBefore(joined);
    EXPECT_EQ(LogFileBytesFromLines(lines), expected);
    EXPECT_EQ(LogFileBytes(joined), expected);
    WriteLogFileLines(path, lines);
    EXPECT_EQ(readAll(path), expected);
    WriteLogFile(path, joined);
    EXPECT_EQ(readAll(path), expected);
    EXPECT_EQ(LogFileBytesFromLines({}), QByteArray());
}

TEST(LogFileWrite, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/kept.log";
    WriteLogFile(path, "old contents");
    // Files may not grow past 100 kB: the write fails with EFBIG halfway.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error = [&] {
        try {
            WriteLogFileLines(path, QStringList(3000, QString(200, u'x')));
        } catch (const LogFileError &e) {
            return std::string(e.what());
        }
        return std::string();
    }();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(error, ("Cannot write file \"" + path + "\". File too large").toStdString());
    EXPECT_EQ(readAll(path), QByteArray("old contents\r\n"));
    EXPECT_EQ(entries(dir.path()), QStringList{"kept.log"});
}
