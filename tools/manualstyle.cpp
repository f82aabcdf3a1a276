#include "manualstyle.h"

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

namespace manual {

QFont bodyFont()
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(10);
    return f;
}

static QString monoFamily() { return QFontDatabase::systemFont(QFontDatabase::FixedFont).family(); }

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

static void mergeRange(QTextDocument &doc, int from, int to, const QTextCharFormat &fmt)
{
    QTextCursor c(&doc);
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    c.mergeCharFormat(fmt);
}

static bool isCodeBlock(const QTextBlock &b)
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
static double firstLineTop(QTextDocument &doc, const QTextBlock &b)
{
    const QRectF r = doc.documentLayout()->blockBoundingRect(b);
    const QTextLayout *tl = b.layout();
    if (tl && tl->lineCount() > 0)
        return tl->position().y() + tl->lineAt(0).y() + (r.top() - tl->position().y());
    return r.top();
}

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

} // namespace manual
