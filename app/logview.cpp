#include "logview.h"

#include <QPlainTextDocumentLayout>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <limits>
#include <utility>

namespace q274 {

namespace {

// Blocks taken out of a retired document per slice: about 2 ms of work.
constexpr int kSliceBlocks = 20000;
// The pause between slices, so the window keeps most of its time.
constexpr int kSlicePauseMs = 10;

} // namespace

TLogView::TLogView(QWidget *parent) : QPlainTextEdit(parent)
{
    FFrame.setSingleShot(true);
    FFrame.setTimerType(Qt::PreciseTimer);
    connect(&FFrame, &QTimer::timeout, this, &TLogView::Flush);
    FRetire.setInterval(kSlicePauseMs);
    connect(&FRetire, &QTimer::timeout, this, &TLogView::RetireSlice);
    FSystemClock.start();
}

TLogView::~TLogView() = default;

qint64 TLogView::Now() const { return Clock ? Clock() : FSystemClock.elapsed(); }

qint64 TLogView::FrameMs() const
{
    const QScreen *s = screen();
    const qreal hz = s && s->refreshRate() > 1 ? s->refreshRate() : 60.0;
    return qBound(qint64(4), qRound64(1000.0 / hz), qint64(50));
}

void TLogView::AppendLine(const QString &line)
{
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
    FPendingLines = 0;
    FLastFlush = Now();
    // Line by line, the caret went to the end before each line and the view
    // scrolled to show it. Putting it there before the last line leaves the
    // view exactly where it was left then.
    const qsizetype last = text.lastIndexOf(QLatin1Char('\n'), text.size() - 2) + 1;
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

void TLogView::Restart(const QString &text)
{
    FFrame.stop();
    FPending.clear();
    FPendingLines = 0;

    // A fresh document instead of clearing the old one: emptying a million
    // lines takes far longer than a frame.
    QTextDocument *old = document();
    auto *doc = new QTextDocument(this);
    doc->setDocumentLayout(new QPlainTextDocumentLayout(doc));
    doc->setDefaultFont(old->defaultFont());
    doc->setDefaultTextOption(old->defaultTextOption());
    doc->setDocumentMargin(old->documentMargin());
    doc->setUndoRedoEnabled(old->isUndoRedoEnabled());
    doc->setMaximumBlockCount(old->maximumBlockCount());
    doc->setPlainText(text);
    old->setParent(nullptr); // ours now: setDocument would delete it at once
    setDocument(doc);
    moveCursor(QTextCursor::End);

    std::unique_ptr<QTextDocument> retired(old);
    if (retired->blockCount() > kSliceBlocks) {
        FRetired.push_back(std::move(retired));
        FRetire.start();
    }
}

void TLogView::RetireSlice()
{
    if (FRetired.empty()) {
        FRetire.stop();
        return;
    }
    QTextDocument *doc = FRetired.front().get();
    if (doc->blockCount() <= kSliceBlocks) {
        FRetired.erase(FRetired.begin());
        return;
    }
    // From the end: what stays keeps its place in the document's tables.
    QTextCursor c(doc);
    c.movePosition(QTextCursor::End);
    c.setPosition(doc->findBlockByNumber(doc->blockCount() - kSliceBlocks).position(), QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

QString TLogView::toPlainText() const
{
    // Whoever reads the view sees every line given to it.
    const_cast<TLogView *>(this)->Flush();
    return QPlainTextEdit::toPlainText();
}

void TLogView::clear()
{
    FFrame.stop();
    FPending.clear();
    FPendingLines = 0;
    QPlainTextEdit::clear();
}

} // namespace q274
