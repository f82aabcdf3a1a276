// The about box (version note, texts, closing) and the help document.
#include "about.h"
#include "dialogs.h"
#include "help.h"
#include "shellrules.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdint>
#include <vector>

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

TEST(Help, OpensTheDocumentBesideTheProgram)
{
    QTemporaryDir dir;
    const QString pdf = dir.path() + QStringLiteral("/Q274TC.pdf");
    WriteFile(pdf, QByteArray("%PDF-1.4\n"));
    std::vector<QUrl> opened;
    SetDocumentOpener([&](const QUrl &url) {
        opened.push_back(url);
        return false; // the outcome is not checked
    });
    ScriptedDialogs dialogs;
    ShowHelp(dir.path());
    SetDocumentOpener({});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(pdf));
    EXPECT_TRUE(dialogs.requests.empty());
    EXPECT_EQ(HelpFilePath(), QCoreApplication::applicationDirPath() + QStringLiteral("/Q274TC.pdf"));
}

TEST(Help, MissingDocumentGivesThePlainMessage)
{
    QTemporaryDir dir;
    int opens = 0;
    SetDocumentOpener([&](const QUrl &) { return bool(++opens); });
    const QString oldTitle = ApplicationTitle();
    SetApplicationTitle(QStringLiteral("Q274 Temperature Controller Standard"));
    ScriptedDialogs dialogs;
    ShowHelp(dir.path());
    SetDocumentOpener({});
    SetApplicationTitle(oldTitle);
    EXPECT_EQ(opens, 0);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, QStringLiteral("message"));
    EXPECT_EQ(dialogs.requests[0].title, QStringLiteral("Q274 Temperature Controller Standard"));
    EXPECT_EQ(dialogs.requests[0].text, QStringLiteral("Help file \"Q274TC.pdf\" not found."));
    EXPECT_EQ(dialogs.requests[0].icon, DialogIcon::None);
}
