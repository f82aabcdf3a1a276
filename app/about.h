// The about box: product title, the program file's version and the about
// text. The version is read from a note the build embeds in the program
// file, so it can be shown for any copy of the file without running it.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QTextEdit;

namespace q274 {

// Shown in place of a version that cannot be read.
inline const QString NoVersionText = QStringLiteral("< No Data Available >");

// The version this program carries in its note.
QString EmbeddedVersion();

// The first valid version note in data (an ELF note named "Q274", type 1,
// whose text is digits and dots), or nothing.
std::optional<QString> FindVersionNote(const QByteArray &data);

// Scans a file for the note, piece by piece; nothing for a missing or
// unreadable file or one without the note.
std::optional<QString> ReadFileVersion(const QString &path);

// "ver. " and the version of the file "Q274TCstd" in programFolder, or the
// not-available text.
QString VersionLabelText(const QString &programFolder);

class TfrmAbout : public QDialog {
public:
    static constexpr int kClientWidth = 365;
    static constexpr int kClientHeight = 251;

    // programFolder: where "Q274TCstd" is looked for (empty: the program's folder).
    explicit TfrmAbout(QWidget *owner = nullptr, const QString &programFolder = {});

    QFrame *Panel1;
    QLabel *Label1;
    QLabel *lblVersion;
    QTextEdit *memAbt;
    QPushButton *btnOK;

    // Loads the about text; run just before the box is shown.
    void FormShow();
    // Keys reach the box before its controls; Esc closes it. Returns whether
    // the key was used.
    bool FormKeyDown(int key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void SetMemoLines(const QStringList &lines);
};

// Creates the box owned by owner, shows it through the dialog seam and frees
// it. A failure to create or show it is swallowed.
void ShowAbout(QWidget *owner, const QString &programFolder = {});

} // namespace q274
