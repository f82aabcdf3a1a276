#include "about.h"

#include "dialogs.h"
#include "look.h"
#include "storeditems.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <cstdint>
#include <cstring>
#include <memory>

#ifndef Q274_VERSION
#error "Q274_VERSION must come from the build (the project version)"
#endif

namespace q274 {

namespace {

// The version note, in the layout of an ELF note: name size, description
// size, type, the name padded to 4 bytes, the description padded to 4 bytes.
constexpr char kVersionText[] = Q274_VERSION;
constexpr std::uint32_t kNoteType = 1;
constexpr std::size_t kNameSize = 5; // "Q274" and its terminator
constexpr std::size_t kMaxDesc = 64;
constexpr std::size_t Pad4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

struct VersionNote {
    std::uint32_t namesz;
    std::uint32_t descsz;
    std::uint32_t type;
    char name[Pad4(kNameSize)];
    char desc[Pad4(sizeof kVersionText)];
};
static_assert(sizeof kVersionText <= kMaxDesc);

constexpr VersionNote MakeVersionNote()
{
    VersionNote n{kNameSize, sizeof kVersionText, kNoteType, {'Q', '2', '7', '4', 0, 0, 0, 0}, {}};
    for (std::size_t i = 0; i < sizeof kVersionText; ++i)
        n.desc[i] = kVersionText[i];
    return n;
}

// Kept in the program file even though nothing refers to it at run time.
__attribute__((section(".note.q274version"), used, aligned(4))) const VersionNote kVersionNote = MakeVersionNote();

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kMaxNote = kHeaderSize + Pad4(kNameSize) + Pad4(kMaxDesc);

std::uint32_t ReadLE32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return std::uint32_t(u[0]) | std::uint32_t(u[1]) << 8 | std::uint32_t(u[2]) << 16 | std::uint32_t(u[3]) << 24;
}

// The note starting at p (end bounds the data), if it is a valid one.
std::optional<QString> NoteAt(const char *p, const char *end)
{
    if (end - p < std::ptrdiff_t(kHeaderSize + Pad4(kNameSize)))
        return std::nullopt;
    const std::uint32_t namesz = ReadLE32(p), descsz = ReadLE32(p + 4), type = ReadLE32(p + 8);
    if (namesz != kNameSize || type != kNoteType || descsz < 2 || descsz > kMaxDesc)
        return std::nullopt;
    if (std::memcmp(p + kHeaderSize, kVersionNote.name, Pad4(kNameSize)) != 0)
        return std::nullopt;
    const char *desc = p + kHeaderSize + Pad4(kNameSize);
    if (end - desc < std::ptrdiff_t(descsz))
        return std::nullopt;
    // Digits and dots, then the terminator: anything else is not our note.
    for (std::uint32_t i = 0; i + 1 < descsz; ++i) {
        const char c = desc[i];
        if (!((c >= '0' && c <= '9') || c == '.'))
            return std::nullopt;
    }
    if (desc[descsz - 1] != '\0')
        return std::nullopt;
    return QString::fromLatin1(desc, int(descsz - 1));
}

QString ProgramFolder(const QString &folder)
{
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

QFont Font(const char *family, int pixels, bool bold = false) { return LayoutFont(pixels, bold, family); }

} // namespace

QString EmbeddedVersion() { return QString::fromLatin1(kVersionNote.desc); }

std::optional<QString> FindVersionNote(const QByteArray &data)
{
    const char *begin = data.constData();
    const char *end = begin + data.size();
    // Look for the name and check the header in front of it.
    const QByteArray name(kVersionNote.name, int(Pad4(kNameSize)));
    qsizetype from = qsizetype(kHeaderSize);
    for (;;) {
        const qsizetype at = data.indexOf(name, from);
        if (at < 0)
            return std::nullopt;
        if (auto v = NoteAt(begin + at - kHeaderSize, end))
            return v;
        from = at + 1;
    }
}

std::optional<QString> ReadFileVersion(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Pieces of 1 MiB with an overlap of one whole note, so a note across a
    // piece boundary is still found; the scan stops after 1 GiB.
    constexpr qint64 kPiece = 1 << 20;
    constexpr qint64 kLimit = qint64(1) << 30;
    QByteArray window;
    qint64 scanned = 0;
    while (scanned < kLimit) {
        const QByteArray piece = file.read(kPiece);
        if (piece.isEmpty())
            break;
        scanned += piece.size();
        window += piece;
        if (auto v = FindVersionNote(window))
            return v;
        if (window.size() > qsizetype(kMaxNote))
            window = window.right(qsizetype(kMaxNote));
    }
    return std::nullopt;
}

QString VersionLabelText(const QString &programFolder)
{
    const auto version = ReadFileVersion(ProgramFolder(programFolder) + QStringLiteral("/Q274TCstd"));
    return QStringLiteral("ver. ") + version.value_or(NoVersionText);
}

TfrmAbout::TfrmAbout(QWidget *owner, const QString &programFolder)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(Font("Tahoma", 12));
    setAutoFillBackground(true);
    setPalette(LayoutPalette());

    // The panel's contents take no input but keep their normal look.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel1->setGeometry(0, 0, kClientWidth, kClientHeight);
    Panel1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Label1 = new QLabel(Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(6, 14, 352, 23);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(Font("Tahoma", 16, true));
    Label1->setAutoFillBackground(true);
    Label1->setPalette(LayoutPalette());

    lblVersion = new QLabel(Panel1);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(109, 40, 146, 13);
    lblVersion->setAlignment(Qt::AlignCenter);
    lblVersion->setFont(Font("Tahoma", 11));
    lblVersion->setText(VersionLabelText(programFolder));

    memAbt = new QTextEdit(Panel1);
    memAbt->setObjectName(QStringLiteral("memAbt"));
    memAbt->setGeometry(11, 64, 340, 159);
    memAbt->setReadOnly(true);
    memAbt->setFrameStyle(QFrame::NoFrame);
    memAbt->setFont(Font("Arial", 12));
    memAbt->setContextMenuPolicy(Qt::NoContextMenu);
    memAbt->setFocusPolicy(Qt::NoFocus);
    memAbt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memAbt->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette mp = LayoutPalette();
    mp.setColor(QPalette::Base, kLayoutBackground);
    memAbt->setPalette(mp);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(2, 228, 363, 23);
    btnOK->setFont(Font("Arial", 12));
    btnOK->setDefault(true);
    btnOK->raise();
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    for (QWidget *w : {static_cast<QWidget *>(btnOK), static_cast<QWidget *>(memAbt)})
        w->installEventFilter(this);
    installEventFilter(this);

    FormCreate();
}

void TfrmAbout::SetMemoLines(const QStringList &lines)
{
    memAbt->setPlainText(lines.join(QLatin1Char('\n')));
    QTextCursor c(memAbt->document());
    c.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.mergeBlockFormat(centred);
}

void TfrmAbout::FormCreate()
{
    // The product title comes through the memo, as the stored item holds it.
    SetMemoLines(LoadStoredItem(QStringLiteral("y99")));
    Label1->setText(memAbt->document()->firstBlock().text());
    memAbt->clear();
}

void TfrmAbout::FormShow() { SetMemoLines(LoadStoredItem(QStringLiteral("x1"))); }

void TfrmAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
}

bool TfrmAbout::FormKeyDown(int key)
{
    if (key != Qt::Key_Escape)
        return false;
    reject();
    return true;
}

bool TfrmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && FormKeyDown(static_cast<QKeyEvent *>(event)->key()))
        return true;
    return QDialog::eventFilter(watched, event);
}

void ShowAbout(QWidget *owner, const QString &programFolder)
{
    try {
        auto box = std::make_unique<TfrmAbout>(owner, programFolder);
        box->FormShow();
        CurrentDialogs().RunDialog(*box, QStringLiteral("about"));
    } catch (...) {
        // An about box that cannot be shown is not worth an error report.
    }
}

} // namespace q274
