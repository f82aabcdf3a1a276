// q274-mkmanual [--version TEXT] MANUAL.md OUTPUT.pdf
//
// Renders the user manual from Markdown into the PDF that the Help button
// opens: A4 at 300 dpi, a title page, a contents page, page numbers in the
// footer. The first "# " heading of the Markdown is the title; it goes on the
// title page instead of the body.
#include <QAbstractTextDocumentLayout>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>
#include <QUrl>

#include <cstdio>
#include <vector>

namespace {

constexpr int kDpi = 300;
constexpr double kMarginLeftMm = 22;
constexpr double kMarginRightMm = 20;
constexpr double kMarginTopMm = 20;
constexpr double kMarginBottomMm = 24; // the footer sits in here

const QColor kInk(30, 30, 30);
const QColor kHeadingInk(20, 50, 95);
const QColor kRule(150, 150, 150);
const QColor kCodeBackground(240, 240, 236);
const QColor kTableHeader(226, 230, 236);
const QColor kNoteBackground(253, 244, 220);

double mmToPx(double mm) { return mm * kDpi / 25.4; }

// Frame and block margins are in device pixels; think of them in points.
double ptToPx(double pt) { return pt * kDpi / 72.0; }

QFont bodyFont()
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(10);
    return f;
}

QString monoFamily() { return QFontDatabase::systemFont(QFontDatabase::FixedFont).family(); }

struct Heading {
    int level;
    QString text;
    int page; // 0-based page of the body
};

// Splits off the first "# " heading as the title.
QString takeTitle(QString &markdown)
{
    const QStringList lines = markdown.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString trimmed = lines[i].trimmed();
        if (trimmed.isEmpty())
            continue;
        if (!trimmed.startsWith(QStringLiteral("# ")))
            return QString();
        QStringList rest = lines.mid(i + 1);
        markdown = rest.join(u'\n');
        return trimmed.mid(2).trimmed();
    }
    return QString();
}

void mergeRange(QTextDocument &doc, int from, int to, const QTextCharFormat &fmt)
{
    QTextCursor c(&doc);
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    c.mergeCharFormat(fmt);
}

bool isCodeBlock(const QTextBlock &b)
{
    if (!b.isValid())
        return false;
    const QTextBlockFormat bf = b.blockFormat();
    if (bf.hasProperty(QTextFormat::BlockCodeFence))
        return true;
    return bf.nonBreakableLines() && b.begin() != b.end() && b.begin().fragment().charFormat().fontFixedPitch();
}

// Gives headings, code and tables the look of a printed manual; the Markdown
// importer leaves them plain.
void styleDocument(QTextDocument &doc)
{
    const QString mono = monoFamily();
    const double headingPt[] = {0, 20, 15, 12.5, 11, 10.5, 10};

    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        QTextCursor c(b);
        QTextBlockFormat bf = b.blockFormat();
        const int level = bf.headingLevel();
        const bool code = isCodeBlock(b);
        const bool inTable = c.currentTable() != nullptr;
        if (level > 0) {
            bf.setTopMargin(ptToPx(level <= 2 ? 4 : 9));
            bf.setBottomMargin(ptToPx(level <= 2 ? 8 : 3));
            if (level == 2 && b.previous().isValid())
                bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            c.setBlockFormat(bf);
            // The importer sizes headings by a relative adjustment; replace it
            // with fixed sizes.
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextFragment f = it.fragment();
                if (!f.isValid())
                    continue;
                QTextCharFormat cf = f.charFormat();
                cf.clearProperty(QTextFormat::FontSizeAdjustment);
                cf.setFontPointSize(headingPt[qMin(level, 6)]);
                cf.setFontWeight(QFont::Bold);
                cf.setForeground(kHeadingInk);
                QTextCursor fc(&doc);
                fc.setPosition(f.position());
                fc.setPosition(f.position() + f.length(), QTextCursor::KeepAnchor);
                fc.setCharFormat(cf);
            }
        } else if (bf.hasProperty(QTextFormat::BlockQuoteLevel)) {
            // Notes and warnings stand out on a tinted ground.
            bf.setBackground(kNoteBackground);
            bf.setTopMargin(ptToPx(4));
            bf.setBottomMargin(ptToPx(6));
            c.setBlockFormat(bf);
        } else if (code) {
            bf.setBackground(kCodeBackground);
            bf.setLeftMargin(ptToPx(4));
            bf.setRightMargin(ptToPx(4));
            bf.setNonBreakableLines(true);
            // One code block is several text blocks: space only around the whole.
            bf.setTopMargin(isCodeBlock(b.previous()) ? 0 : ptToPx(2));
            bf.setBottomMargin(isCodeBlock(b.next()) ? 0 : ptToPx(6));
            c.setBlockFormat(bf);
            QTextCharFormat cf;
            cf.setFontFamilies({mono});
            cf.setFontPointSize(8.5);
            mergeRange(doc, b.position(), b.position() + b.length() - 1, cf);
        } else {
            // Inline code inside running text.
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextFragment f = it.fragment();
                if (f.isValid() && f.charFormat().fontFixedPitch()) {
                    QTextCharFormat cf;
                    cf.setFontFamilies({mono});
                    cf.setFontPointSize(9);
                    cf.setBackground(kCodeBackground);
                    mergeRange(doc, f.position(), f.position() + f.length(), cf);
                }
            }
            const double below = inTable ? 0 : ptToPx(3);
            if (bf.bottomMargin() != below) {
                bf.setBottomMargin(below);
                c.setBlockFormat(bf);
            }
        }
    }

    // Pictures: as wide as the text column at most, aspect kept.
    const double maxWidth = doc.pageSize().width() > 0 ? doc.pageSize().width() : doc.textWidth();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!f.isValid() || !f.charFormat().isImageFormat())
                continue;
            QTextImageFormat img = f.charFormat().toImageFormat();
            const QImage picture(QUrl(img.name()).isRelative() ? doc.baseUrl().resolved(QUrl(img.name())).toLocalFile()
                                                               : QUrl(img.name()).toLocalFile());
            if (picture.isNull() || maxWidth <= 0)
                continue;
            // Image sizes count in 96 dpi pixels; the layout scales them to
            // the page resolution.
            const double width = maxWidth * 96.0 / kDpi;
            img.setWidth(width);
            img.setHeight(width * picture.height() / picture.width());
            mergeRange(doc, f.position(), f.position() + f.length(), img);
            QTextBlockFormat bf = b.blockFormat();
            bf.setAlignment(Qt::AlignHCenter);
            bf.setTopMargin(ptToPx(4));
            bf.setBottomMargin(ptToPx(8));
            QTextCursor(b).setBlockFormat(bf);
        }
    }

    // Tables: thin collapsed borders, padding, a shaded header row that is
    // repeated at the top of every page the table runs over.
    std::vector<QTextTable *> tables;
    std::vector<QTextFrame *> pending{doc.rootFrame()};
    while (!pending.empty()) {
        QTextFrame *f = pending.back();
        pending.pop_back();
        for (QTextFrame *child : f->childFrames()) {
            if (auto *t = qobject_cast<QTextTable *>(child))
                tables.push_back(t);
            pending.push_back(child);
        }
    }
    for (QTextTable *t : tables) {
        QTextTableFormat tf = t->format();
        tf.setBorder(ptToPx(0.5));
        tf.setBorderBrush(kRule);
        tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        tf.setBorderCollapse(true);
        tf.setCellSpacing(0);
        tf.setCellPadding(ptToPx(2));
        tf.setTopMargin(ptToPx(3));
        tf.setBottomMargin(ptToPx(6));
        tf.setHeaderRowCount(1);
        tf.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        t->setFormat(tf);
        for (int col = 0; col < t->columns(); ++col) {
            QTextTableCell cell = t->cellAt(0, col);
            QTextCharFormat cf = cell.format();
            cf.setBackground(kTableHeader);
            cell.setFormat(cf);
            QTextCharFormat bold;
            bold.setFontWeight(QFont::Bold);
            mergeRange(doc, cell.firstPosition(), cell.lastPosition(), bold);
        }
        for (int row = 0; row < t->rows(); ++row)
            for (int col = 0; col < t->columns(); ++col) {
                QTextTableCell cell = t->cellAt(row, col);
                QTextCharFormat small;
                small.setFontPointSize(9);
                mergeRange(doc, cell.firstPosition(), cell.lastPosition(), small);
            }
    }
}

// Top of a block's first line in document coordinates: a line the layout
// pushed onto the next page counts there, not where its block began.
double firstLineTop(QTextDocument &doc, const QTextBlock &b)
{
    const QRectF r = doc.documentLayout()->blockBoundingRect(b);
    const QTextLayout *tl = b.layout();
    if (tl && tl->lineCount() > 0)
        return tl->position().y() + tl->lineAt(0).y() + (r.top() - tl->position().y());
    return r.top();
}

// A heading must not end a page with its text on the next one: such a
// heading starts the next page instead.
void keepHeadingsWithText(QTextDocument &doc, double pageHeight)
{
    for (int pass = 0; pass < 100; ++pass) {
        bool moved = false;
        for (QTextBlock b = doc.begin(); b.isValid() && !moved; b = b.next()) {
            QTextBlockFormat bf = b.blockFormat();
            if (bf.headingLevel() < 2 || (bf.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore))
                continue;
            const QTextBlock next = b.next();
            if (!next.isValid())
                continue;
            const int headingPage = int(firstLineTop(doc, b) / pageHeight);
            const int textPage = int(firstLineTop(doc, next) / pageHeight);
            if (textPage > headingPage) {
                bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                QTextCursor(b).setBlockFormat(bf);
                // Lay out everything again: an incremental layout after a
                // format change leaves later tables misplaced.
                doc.markContentsDirty(0, doc.characterCount());
                moved = true;
            }
        }
        if (!moved)
            return;
    }
}

std::vector<Heading> collectHeadings(QTextDocument &doc, double pageHeight)
{
    std::vector<Heading> out;
    QAbstractTextDocumentLayout *layout = doc.documentLayout();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const int level = b.blockFormat().headingLevel();
        if (level < 2 || level > 3)
            continue;
        const QRectF r = layout->blockBoundingRect(b);
        out.push_back({level, b.text().trimmed(), int(r.top() / pageHeight)});
    }
    return out;
}

class Renderer {
public:
    Renderer(QPdfWriter &writer, QPainter &painter, QString title)
        : FWriter(writer), FPainter(painter), FTitle(std::move(title))
    {
        const QRectF full = writer.pageLayout().fullRectPixels(kDpi);
        FPageWidth = full.width();
        FPageHeight = full.height();
        FBody = QRectF(mmToPx(kMarginLeftMm), mmToPx(kMarginTopMm),
                       FPageWidth - mmToPx(kMarginLeftMm) - mmToPx(kMarginRightMm),
                       FPageHeight - mmToPx(kMarginTopMm) - mmToPx(kMarginBottomMm));
    }

    QRectF body() const { return FBody; }

    void newPage()
    {
        if (FPagesDone > 0)
            FWriter.newPage();
        ++FPagesDone;
    }

    void titlePage(const QString &subtitle, const QString &version)
    {
        newPage();
        QFont big = bodyFont();
        big.setPointSizeF(30);
        big.setBold(true);
        FPainter.setFont(big);
        FPainter.setPen(kHeadingInk);
        const QRectF titleBox(FBody.left(), FBody.top() + FBody.height() * 0.28, FBody.width(), mmToPx(30));
        FPainter.drawText(titleBox, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap, FTitle);

        FPainter.setPen(QPen(kRule, mmToPx(0.4)));
        const double y = titleBox.bottom() + mmToPx(6);
        FPainter.drawLine(QPointF(FBody.left() + FBody.width() * 0.2, y),
                          QPointF(FBody.right() - FBody.width() * 0.2, y));

        QFont mid = bodyFont();
        mid.setPointSizeF(14);
        FPainter.setFont(mid);
        FPainter.setPen(kInk);
        FPainter.drawText(QRectF(FBody.left(), y + mmToPx(6), FBody.width(), mmToPx(30)),
                          Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, subtitle);
        if (!version.isEmpty()) {
            QFont small = bodyFont();
            small.setPointSizeF(11);
            FPainter.setFont(small);
            FPainter.drawText(QRectF(FBody.left(), FBody.bottom() - mmToPx(20), FBody.width(), mmToPx(10)),
                              Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Version %1").arg(version));
        }
    }

    // Lines of the contents, first page with its heading.
    int contentsPageCount(const std::vector<Heading> &headings) const
    {
        const int perPage = contentsLinesPerPage();
        const int lines = int(headings.size()) + 3; // the heading takes about three lines
        return qMax(1, (lines + perPage - 1) / perPage);
    }

    void contentsPages(const std::vector<Heading> &headings, int firstBodyPage, int totalPages)
    {
        QFont headFont = bodyFont();
        headFont.setPointSizeF(20);
        headFont.setBold(true);
        QFont entry = bodyFont();
        entry.setPointSizeF(10.5);
        const double lineH = contentsLineHeight();
        const int perPage = contentsLinesPerPage();

        std::size_t i = 0;
        bool first = true;
        while (first || i < headings.size()) {
            newPage();
            double y = FBody.top();
            int used = 0;
            if (first) {
                FPainter.setFont(headFont);
                FPainter.setPen(kHeadingInk);
                FPainter.drawText(QRectF(FBody.left(), y, FBody.width(), lineH * 2), Qt::AlignLeft | Qt::AlignVCenter,
                                  QStringLiteral("Contents"));
                y += lineH * 3;
                used = 3;
                first = false;
            }
            for (; i < headings.size() && used < perPage; ++i, ++used) {
                const Heading &h = headings[i];
                const double indent = h.level == 2 ? 0 : mmToPx(8);
                FPainter.setPen(h.level == 2 ? kHeadingInk : kInk);
                QFont f = entry;
                f.setBold(h.level == 2);
                FPainter.setFont(f);
                const QFontMetricsF fm(f, &FWriter);
                const QString number = QString::number(firstBodyPage + h.page);
                const QRectF row(FBody.left() + indent, y, FBody.width() - indent, lineH);
                const double numberWidth = fm.horizontalAdvance(number);
                const QString text = fm.elidedText(h.text, Qt::ElideRight, row.width() - numberWidth - mmToPx(12));
                FPainter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, text);
                FPainter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, number);
                // Dotted leader between the text and the number.
                const double from = row.left() + fm.horizontalAdvance(text) + mmToPx(2);
                const double to = row.right() - numberWidth - mmToPx(2);
                if (to > from) {
                    FPainter.setPen(QPen(kRule, mmToPx(0.25), Qt::DotLine));
                    const double ly = y + lineH * 0.7;
                    FPainter.drawLine(QPointF(from, ly), QPointF(to, ly));
                }
                y += lineH;
            }
            footer(totalPages);
        }
    }

    void bodyPages(QTextDocument &doc, int bodyPageCount, int totalPages)
    {
        QAbstractTextDocumentLayout *layout = doc.documentLayout();
        for (int page = 0; page < bodyPageCount; ++page) {
            newPage();
            FPainter.save();
            const QRectF source(0, page * FBody.height(), FBody.width(), FBody.height());
            FPainter.translate(FBody.left(), FBody.top() - source.top());
            FPainter.setClipRect(source);
            QAbstractTextDocumentLayout::PaintContext ctx;
            ctx.clip = source;
            ctx.palette.setColor(QPalette::Text, kInk);
            layout->draw(&FPainter, ctx);
            FPainter.restore();
            footer(totalPages);
        }
    }

private:
    double contentsLineHeight() const { return mmToPx(5.0); }
    int contentsLinesPerPage() const { return int(FBody.height() / contentsLineHeight()); }

    void footer(int totalPages)
    {
        const double y = FBody.bottom() + mmToPx(8);
        FPainter.setPen(QPen(kRule, mmToPx(0.25)));
        FPainter.drawLine(QPointF(FBody.left(), y), QPointF(FBody.right(), y));
        QFont f = bodyFont();
        f.setPointSizeF(8.5);
        FPainter.setFont(f);
        FPainter.setPen(kInk);
        const QRectF row(FBody.left(), y + mmToPx(1.5), FBody.width(), mmToPx(6));
        FPainter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, FTitle);
        FPainter.drawText(row, Qt::AlignRight | Qt::AlignVCenter,
                          QStringLiteral("Page %1 of %2").arg(FPagesDone).arg(totalPages));
    }

    QPdfWriter &FWriter;
    QPainter &FPainter;
    QString FTitle;
    double FPageWidth = 0;
    double FPageHeight = 0;
    QRectF FBody;
    int FPagesDone = 0;
};

int fail(const QString &message)
{
    std::fprintf(stderr, "q274-mkmanual: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Runs at build time, where there is no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q274-mkmanual"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the Markdown user manual into a PDF."));
    parser.addHelpOption();
    QCommandLineOption versionOption(
        QStringLiteral("version"), QStringLiteral("Program version shown on the title page."), QStringLiteral("TEXT"));
    QCommandLineOption subtitleOption(QStringLiteral("subtitle"),
                                      QStringLiteral("Line under the title on the title page."), QStringLiteral("TEXT"),
                                      QStringLiteral("Q274 Temperature Controller Standard"));
    parser.addOption(versionOption);
    parser.addOption(subtitleOption);
    parser.addPositionalArgument(QStringLiteral("manual"), QStringLiteral("The Markdown source."));
    parser.addPositionalArgument(QStringLiteral("pdf"), QStringLiteral("The PDF to write."));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    }

    QFile in(args[0]);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(args[0], in.errorString()));
    QString markdown = QString::fromUtf8(in.readAll());
    in.close();
    QString title = takeTitle(markdown);
    if (title.isEmpty())
        title = QStringLiteral("User manual");

    QSaveFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(args[1], out.errorString()));

    QPdfWriter writer(&out);
    writer.setResolution(kDpi);
    writer.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("q274-mkmanual"));

    QPainter painter;
    if (!painter.begin(&writer))
        return fail(QStringLiteral("cannot start the PDF %1").arg(args[1]));

    Renderer renderer(writer, painter, title);

    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setDefaultFont(bodyFont());
    doc.setDocumentMargin(0);
    // Pictures are named relative to the manual.
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(args[0]).absolutePath() + u'/'));
    doc.setPageSize(renderer.body().size());
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    styleDocument(doc);
    keepHeadingsWithText(doc, renderer.body().height());

    const int bodyPageCount = doc.pageCount();
    const std::vector<Heading> headings = collectHeadings(doc, renderer.body().height());
    const int contentsPages = renderer.contentsPageCount(headings);
    const int firstBodyPage = 2 + contentsPages; // 1-based: title, contents, body
    const int totalPages = 1 + contentsPages + bodyPageCount;

    renderer.titlePage(parser.value(subtitleOption), parser.value(versionOption));
    renderer.contentsPages(headings, firstBodyPage, totalPages);
    renderer.bodyPages(doc, bodyPageCount, totalPages);

    if (!painter.end())
        return fail(QStringLiteral("cannot finish the PDF %1").arg(args[1]));
    if (!out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(args[1], out.errorString()));
    return 0;
}
