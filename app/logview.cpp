#include "logview.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPlainTextDocumentLayout>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <limits>
#include <utility>

namespace q274 {

namespace {

// Gives a block of several lines its true line count before it is laid out
// (with lines unbroken, one per separator), so the scroll bar counts lines,
// not blocks; the plain layout counts one line for a block it has not laid
// out yet.
class TLinesLayout : public QPlainTextDocumentLayout {
public:
    explicit TLinesLayout(QTextDocument *doc) : QPlainTextDocumentLayout(doc) {}

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        QTextDocument *doc = document();
        const int linesBefore = doc->lineCount();
        if (doc->defaultTextOption().wrapMode() == QTextOption::NoWrap) {
            const QTextBlock last = doc->findBlock(qMax(0, from + charsAdded - 1));
            for (QTextBlock b = doc->findBlock(from); b.isValid(); b = b.next()) {
                if (b.isVisible())
                    b.setLineCount(int(b.text().count(QChar::LineSeparator)) + 1);
                if (b == last)
                    break;
            }
        }
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        // The plain layout tells of a new size only when the number of
        // blocks changed.
        if (doc->lineCount() != linesBefore)
            emit documentSizeChanged(documentSize());
    }
};

} // namespace

TLogView::TLogView(QWidget *parent) : QPlainTextEdit(parent)
{
    setDocument(NewDocument());
    FFrame.setSingleShot(true);
    FFrame.setTimerType(Qt::PreciseTimer);
    connect(&FFrame, &QTimer::timeout, this, &TLogView::Flush);
    FSystemClock.start();
}

QTextDocument *TLogView::NewDocument()
{
    auto *doc = new QTextDocument(this);
    doc->setDocumentLayout(new TLinesLayout(doc));
    if (const QTextDocument *old = document()) {
        doc->setDefaultFont(old->defaultFont());
        doc->setDefaultTextOption(old->defaultTextOption());
        doc->setDocumentMargin(old->documentMargin());
        doc->setUndoRedoEnabled(old->isUndoRedoEnabled());
        doc->setMaximumBlockCount(old->maximumBlockCount());
    }
    return doc;
}

qint64 TLogView::Now() const { return Clock ? Clock() : FSystemClock.elapsed(); }

qint64 TLogView::FrameMs() const
{
    const QScreen *s = screen();
    const qreal hz = s && s->refreshRate() > 1 ? s->refreshRate() : 60.0;
    return qBound(qint64(4), qRound64(1000.0 / hz), qint64(50));
}

void TLogView::AppendLine(const QString &line)
{
    FLastLineStart = FPending.size();
    FPending += line;
    FPending += QLatin1Char('\n');
    ++FPendingLines;
    if (FFrame.isActive())
        return;
    // A line after a quiet frame goes in at the next turn; in a flood the
    // next frame takes all that came meanwhile.
    const qint64 since = FLastFlush < 0 ? std::numeric_limits<qint64>::max() : Now() - FLastFlush;
    FFrame.start(int(since >= FrameMs() ? 0 : FrameMs() - since));
}

void TLogView::Flush()
{
    FFrame.stop();
    if (FPending.isEmpty())
        return;
    const QString text = std::exchange(FPending, QString());
    const qsizetype last = std::exchange(FLastLineStart, 0);
    const qint64 lines = FLines;
    FLines += std::exchange(FPendingLines, 0);
    FLastFlush = Now();
    ShareBlocks(lines);
    // Line by line, the caret went to the end before each line and the view
    // scrolled to show it. Putting it there before the last line leaves the
    // view exactly where it was left then.
    if (last > 0) {
        QTextCursor head(document());
        head.movePosition(QTextCursor::End);
        head.insertText(text.left(last));
    }
    QTextCursor c = textCursor();
    c.movePosition(QTextCursor::End);
    setTextCursor(c);
    insertPlainText(text.mid(last));
}

void TLogView::ShareBlocks(qint64 lines)
{
    // Lines kept a block each: those in view and a screenful or more above.
    const qint64 tail = qMax<qint64>(TailLines, 2 * (viewport()->height() / qMax(1, fontMetrics().lineSpacing()) + 1));
    const qint64 upto = (lines - tail) / kBlockLines * kBlockLines;
    if (upto <= FShared)
        return;
    // Each paragraph break inside a group becomes a line separator, one by
    // one: rewriting the lines whole would leave their old text in the
    // document's buffer until it compacts it, all of it at once.
    // Found by position: the cursor's own moves would look at the block's
    // text direction, reading all of it.
    QScrollBar *bar = verticalScrollBar();
    const int top = bar->value();
    QTextDocument *doc = document();
    QTextCursor c(doc);
    c.beginEditBlock();
    int at = doc->findBlockByNumber(int(FShared / kBlockLines)).position();
    for (; FShared < upto; ++FShared) {
        const QTextBlock b = doc->findBlock(at);
        at = b.position() + b.length(); // after the break
        if ((FShared + 1) % kBlockLines == 0)
            continue;
        c.setPosition(at - 1);
        c.setPosition(at, QTextCursor::KeepAnchor);
        c.insertText(QString(QChar::LineSeparator));
    }
    c.endEditBlock();
    // The view keeps its top as a block number, which now names a block lines
    // further on: set it again from the line the scroll bar holds.
    bar->setValue(top > bar->minimum() ? top - 1 : top + 1);
    bar->setValue(top);
}

void TLogView::Restart(const QString &text)
{
    Drop();
    // A fresh document: taking a day's log apart takes tens of milliseconds,
    // which the old one does in a later turn.
    QTextDocument *old = document();
    QTextDocument *doc = NewDocument();
    if (!text.isEmpty()) {
        doc->setPlainText(text);
        QStringView lines(text);
        if (lines.endsWith(QLatin1Char('\n')))
            lines.chop(1);
        FLines = lines.count(QLatin1Char('\n')) + 1;
    }
    setDocument(doc);
    moveCursor(QTextCursor::End);
    old->deleteLater();
}

QString TLogView::toPlainText() const
{
    // Whoever reads the view sees every line given to it.
    const_cast<TLogView *>(this)->Flush();
    return QPlainTextEdit::toPlainText();
}

void TLogView::Drop()
{
    FFrame.stop();
    FPending.clear();
    FPendingLines = 0;
    FLastLineStart = 0;
    FLines = 0;
    FShared = 0;
}

void TLogView::clear()
{
    Drop();
    QPlainTextEdit::clear();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    FDoubleClick.start();
    FDoubleClickAt = event->position().toPoint();
}

void TLogView::mousePressEvent(QMouseEvent *event)
{
    const bool triple =
        event->button() == Qt::LeftButton && FDoubleClick.isValid()
        && FDoubleClick.elapsed() < QApplication::doubleClickInterval()
        && (event->position().toPoint() - FDoubleClickAt).manhattanLength() < QApplication::startDragDistance();
    FDoubleClick.invalidate();
    QPlainTextEdit::mousePressEvent(event);
    if (!triple)
        return;
    // The line and its break, as the whole block was.
    QTextCursor c = cursorForPosition(event->position().toPoint());
    c.movePosition(QTextCursor::StartOfLine);
    c.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    setTextCursor(c);
}

} // namespace q274
