// The about box (version note, texts, closing) and the help document.
#include "about.h"
#include "help.h"
#include "shellrules.h"

#include "support/scripteddialogs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdint>

using namespace q274;

namespace {

// An ELF note as the build lays it out: sizes, type, name, description.
QByteArray Note(const QByteArray &desc, std::uint32_t type = 1, const QByteArray &name = "Q274")
{
    auto le32 = [](std::uint32_t v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = char(v >> (8 * i));
        return b;
    };
    QByteArray n = name + '\0';
    QByteArray d = desc + '\0';
    QByteArray out = le32(std::uint32_t(n.size())) + le32(std::uint32_t(d.size())) + le32(type);
    while (n.size() % 4)
        n += '\0';
    while (d.size() % 4)
        d += '\0';
    return out + n + d;
}

void WriteFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

} // namespace

TEST(AboutVersion, ProgramFileCarriesTheProjectVersion)
{
    EXPECT_EQ(EmbeddedVersion(), QStringLiteral(EXPECTED_VERSION));

    // Any program linked with the about box carries the note: a copy of this
    // test program under the program's name stands in for it.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), dir.path() + QStringLiteral("/Q274TCstd")));
    EXPECT_EQ(VersionLabelText(dir.path()), QStringLiteral("ver. ") + QStringLiteral(EXPECTED_VERSION));
}

TEST(AboutVersion, MissingFileOrNoNoteIsNotAvailable)
{
    QTemporaryDir dir;
    const QString na = QStringLiteral("ver. < No Data Available >");
    EXPECT_EQ(VersionLabelText(dir.path()), na);

    // The program under another name does not count.
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), dir.path() + QStringLiteral("/Q274TCstd.exe")));
    EXPECT_EQ(VersionLabelText(dir.path()), na);

    WriteFile(dir.path() + QStringLiteral("/Q274TCstd"), QByteArray("#!/bin/sh\necho Q274\n"));
    EXPECT_EQ(VersionLabelText(dir.path()), na);

    WriteFile(dir.path() + QStringLiteral("/Q274TCstd"), QByteArray());
    EXPECT_EQ(VersionLabelText(dir.path()), na);
}

TEST(AboutVersion, OnlyWellFormedNotesCount)
{
    EXPECT_EQ(FindVersionNote(Note("2.0.1.7")), QStringLiteral("2.0.1.7"));
    EXPECT_EQ(FindVersionNote(QByteArray(3, 'x') + Note("1.2")), QStringLiteral("1.2"));

    // Look-alikes: wrong type, wrong name, text that is no version, a size
    // past the end of the data, a note cut short.
    EXPECT_FALSE(FindVersionNote(Note("1.1.1.2", 2)));
    EXPECT_FALSE(FindVersionNote(Note("1.1.1.2", 1, "Q275")));
    EXPECT_FALSE(FindVersionNote(Note("1.1; rm -rf")));
    EXPECT_FALSE(FindVersionNote(Note("")));
    QByteArray huge = Note("1.1.1.2");
    huge[4] = char(0x7f);
    huge[7] = char(0x7f);
    EXPECT_FALSE(FindVersionNote(huge));
    EXPECT_FALSE(FindVersionNote(Note("1.1.1.2").left(22)));
    EXPECT_FALSE(FindVersionNote(QByteArray("Q274\0\0\0\0", 8)));

    // The first valid note wins, after a broken one.
    EXPECT_EQ(FindVersionNote(Note("x", 1) + Note("3.4")), QStringLiteral("3.4"));
}

TEST(AboutVersion, NoteAcrossAPieceBoundaryOfALargeFile)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Q274TCstd");
    const QByteArray note = Note("9.8.7.6");
    // Starts 10 bytes before the first 1 MiB boundary.
    QByteArray data((1 << 20) - 10, '\xAA');
    data += note;
    data += QByteArray(4096, '\0');
    WriteFile(path, data);
    EXPECT_EQ(ReadFileVersion(path), QStringLiteral("9.8.7.6"));
    EXPECT_EQ(VersionLabelText(dir.path()), QStringLiteral("ver. 9.8.7.6"));
}

TEST(AboutBox, TextsLayoutAndClosing)
{
    QTemporaryDir dir;
    WriteFile(dir.path() + QStringLiteral("/Q274TCstd"), Note("1.1.1.2"));
    TfrmAbout box(nullptr, dir.path());
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(box.size(), QSize(365, 251));
    EXPECT_EQ(box.Label1->text(), QStringLiteral("Q274 Temperature Controller Standard"));
    EXPECT_EQ(box.lblVersion->text(), QStringLiteral("ver. 1.1.1.2"));
    EXPECT_TRUE(box.memAbt->toPlainText().isEmpty()) << "the about text loads just before showing";
    EXPECT_EQ(box.btnOK->geometry(), QRect(2, 228, 363, 23));
    EXPECT_EQ(box.btnOK->text(), QStringLiteral("OK"));

    box.FormShow();
    const QStringList lines = box.memAbt->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("http"))) << lines.last().toStdString();
    EXPECT_TRUE(box.memAbt->isReadOnly());

    // Esc reaches the box first, even when a control has the focus.
    box.show();
    box.btnOK->setFocus();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(box.btnOK, &esc);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), int(QDialog::Rejected));
    EXPECT_FALSE(box.FormKeyDown(Qt::Key_Return));

    box.show();
    box.btnOK->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), int(QDialog::Accepted));
}

TEST(AboutBox, ShownThroughTheDialogSeam)
{
    ScriptedDialogs dialogs;
    ShowAbout(nullptr);
    EXPECT_EQ(dialogs.Kinds(), QStringList{QStringLiteral("about")});
}

namespace {

// A stand-in for xdg-open: writes its arguments, one a line, to
// <itself>.args and ends with code.
QString FakeOpener(const QTemporaryDir &dir, int code)
{
    const QString path = dir.path() + QStringLiteral("/fake-xdg-open");
    WriteFile(path, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexit %1\n").arg(code).toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    return path;
}

// Runs the event loop until every launch has its outcome (the limit only
// ends a test whose launcher never reports), then lets the finished
// launches go.
bool LaunchesSettled()
{
    QElapsedTimer clock;
    clock.start();
    while (PendingDocumentLaunches() > 0 && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return PendingDocumentLaunches() == 0;
}

} // namespace

TEST(Help, OpensTheDocumentBesideTheProgramWithoutWaiting)
{
    QTemporaryDir dir;
    const QString pdf = dir.path() + QStringLiteral("/Q274TC.pdf");
    WriteFile(pdf, QByteArray("%PDF-1.4\n"));
    const QString opener = FakeOpener(dir, 0);
    SetDocumentLauncher(opener);
    ScriptedDialogs dialogs;
    ShowHelp(dir.path());
    EXPECT_EQ(PendingDocumentLaunches(), 1) << "the outcome arrives later, through the event loop";
    ASSERT_TRUE(LaunchesSettled());
    SetDocumentLauncher({});
    QFile args(opener + QStringLiteral(".args"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(args.readAll(), pdf.toUtf8() + '\n');
    EXPECT_TRUE(dialogs.requests.empty());
    EXPECT_EQ(HelpFilePath(), QCoreApplication::applicationDirPath() + QStringLiteral("/Q274TC.pdf"));
}

// The two layouts: a build tree or copied folder (the manual beside the
// program) and an installation (<prefix>/bin, <prefix>/share/doc/q274tc).
TEST(Help, FindsTheManualBesideTheProgramThenInTheInstalledFolder)
{
    QTemporaryDir prefix;
    const QString bin = prefix.path() + QStringLiteral("/bin");
    const QString docs = prefix.path() + QStringLiteral("/share/doc/q274tc");
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(docs));
    const QString installed = docs + QStringLiteral("/Q274TC.pdf");
    const QString beside = bin + QStringLiteral("/Q274TC.pdf");
    EXPECT_EQ(HelpFilePath(bin), beside) << "neither exists";

    WriteFile(installed, QByteArray("%PDF-1.4\n"));
    EXPECT_EQ(HelpFilePath(bin), installed);
    const QString opener = FakeOpener(prefix, 0);
    SetDocumentLauncher(opener);
    ScriptedDialogs dialogs;
    ShowHelp(bin);
    ASSERT_TRUE(LaunchesSettled());
    SetDocumentLauncher({});
    EXPECT_TRUE(dialogs.requests.empty());
    QFile args(opener + QStringLiteral(".args"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(args.readAll(), installed.toUtf8() + '\n');

    WriteFile(beside, QByteArray("%PDF-1.4\n"));
    EXPECT_EQ(HelpFilePath(bin), beside);
}

TEST(Help, DesktopThatCannotOpenItSaysWhatToInstall)
{
    QTemporaryDir dir;
    const QString pdf = dir.path() + QStringLiteral("/Q274TC.pdf");
    WriteFile(pdf, QByteArray("%PDF-1.4\n"));
    ScriptedDialogs dialogs;
    SetDocumentLauncher(FakeOpener(dir, 3)); // xdg-open's code for "no program found"
    ShowHelp(dir.path());
    SetDocumentLauncher(dir.path() + QStringLiteral("/no-xdg-open"));
    ShowHelp(dir.path());
    ASSERT_TRUE(LaunchesSettled());
    SetDocumentLauncher({});
    ASSERT_EQ(dialogs.requests.size(), 2u);
    for (const ScriptedDialogs::Request &r : dialogs.requests) {
        EXPECT_EQ(r.kind, QStringLiteral("message"));
        EXPECT_EQ(r.title, ApplicationTitle());
        EXPECT_EQ(r.icon, DialogIcon::None);
        EXPECT_TRUE(r.text.startsWith(QStringLiteral("Could not open \"") + pdf + QStringLiteral("\": ")));
        EXPECT_TRUE(r.text.contains(QStringLiteral("Install "))) << r.text.toStdString();
    }
}

TEST(Help, MissingDocumentGivesThePlainMessage)
{
    QTemporaryDir dir;
    SetDocumentLauncher(FakeOpener(dir, 0));
    const QString oldTitle = ApplicationTitle();
    SetApplicationTitle(QStringLiteral("Q274 Temperature Controller Standard"));
    ScriptedDialogs dialogs;
    ShowHelp(dir.path());
    SetDocumentLauncher({});
    SetApplicationTitle(oldTitle);
    EXPECT_EQ(PendingDocumentLaunches(), 0);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, QStringLiteral("message"));
    EXPECT_EQ(dialogs.requests[0].title, QStringLiteral("Q274 Temperature Controller Standard"));
    EXPECT_EQ(dialogs.requests[0].text, QStringLiteral("Help file \"Q274TC.pdf\" not found."));
    EXPECT_EQ(dialogs.requests[0].icon, DialogIcon::None);
}
