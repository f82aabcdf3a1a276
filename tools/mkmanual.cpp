// q274-mkmanual [--version TEXT] MANUAL.md OUTPUT.pdf
//
// Renders the user manual from Markdown into the PDF that the Help button
// opens: A4 at 300 dpi, a title page, a contents page, page numbers in the
// footer. The first "# " heading of the Markdown is the title; it goes on the
// title page instead of the body.
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

using namespace manual;

namespace {

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
    doc.setDefaultFont(bodyFont());
    doc.setDocumentMargin(0);
    // Pictures are named relative to the manual.
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(args[0]).absolutePath() + u'/'));
    doc.setPageSize(renderer.body().size());
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    styleDocument(doc);
    // The layout is made only now: with it in place, every format change of
    // the styling above laid the rest of the document out again (half a
    // minute of the build).
    doc.documentLayout()->setPaintDevice(&writer);
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
