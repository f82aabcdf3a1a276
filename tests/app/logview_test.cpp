// The log view against a plain QPlainTextEdit fed a line at a time, as the
// window did before lines were gathered per frame and shared blocks.
#include "logview.h"
#include "look.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace q274;

namespace {

void Prepare(QPlainTextEdit &v)
{
    v.setReadOnly(true);
    v.setLineWrapMode(QPlainTextEdit::NoWrap);
    v.setUndoRedoEnabled(false);
    v.setFont(LayoutMonoFont(13));
    v.setTabStopDistance(40);
    v.resize(300, 160);
    v.show();
}

void Append(QPlainTextEdit &ref, const QString &line)
{
    QTextCursor c = ref.textCursor();
    c.movePosition(QTextCursor::End);
    ref.setTextCursor(c);
    ref.insertPlainText(line + QLatin1Char('\n'));
}

// What the user sees and where the caret and the scroll bars are.
void ExpectSame(TLogView &view, QPlainTextEdit &ref, int step)
{
    view.Flush();
    QApplication::processEvents();
    ASSERT_EQ(view.toPlainText(), ref.toPlainText()) << step;
    EXPECT_EQ(view.textCursor().position(), ref.textCursor().position()) << step;
    EXPECT_EQ(view.verticalScrollBar()->maximum(), ref.verticalScrollBar()->maximum()) << step;
    EXPECT_EQ(view.verticalScrollBar()->value(), ref.verticalScrollBar()->value()) << step;
    EXPECT_EQ(view.horizontalScrollBar()->value(), ref.horizontalScrollBar()->value()) << step;
    EXPECT_TRUE(view.viewport()->grab().toImage() == ref.viewport()->grab().toImage()) << step;
}

} // namespace

TEST(LogView, LooksScrollsAndSelectsAsALineAtATime)
{
    TLogView view;
    view.TailLines = 16; // lines above share blocks early
    QPlainTextEdit ref;
    Prepare(view);
    Prepare(ref);
    const QString banner = QStringLiteral("\tQ274\n\t(C)\n\n\n");
    view.Restart(banner);
    ref.setPlainText(banner);
    ref.moveCursor(QTextCursor::End);
    ExpectSame(view, ref, 0);

    // Lines in bursts of every size into several shared blocks, the user
    // scrolling up and putting the caret elsewhere. A line wider than the view
    // comes alone: in a burst, lines that were never shown are not measured
    // for the horizontal scroll bar, one by one or not.
    int n = 0;
    for (int burst : {1, 2, 63, 1, 64, 5, 130, 1, 0, 17}) {
        for (int i = 0; i < burst; ++i, ++n) {
            const QString line =
                n % 9 == 0 ? QString()
                           : QStringLiteral("%1\t21.50\t%2").arg(n).arg(QString(burst == 1 ? 40 : n % 12, 'x'));
            view.AppendLine(line);
            Append(ref, line);
        }
        ASSERT_NO_FATAL_FAILURE(ExpectSame(view, ref, n));
        for (QPlainTextEdit *v : {static_cast<QPlainTextEdit *>(&view), &ref}) {
            v->verticalScrollBar()->setValue(n / 3);
            v->moveCursor(QTextCursor::Start);
        }
    }

    // Filled while hidden (another page in front), then shown.
    view.hide();
    ref.hide();
    for (int i = 0; i < 150; ++i, ++n) {
        const QString line = QStringLiteral("%1 hidden").arg(n);
        view.AppendLine(line);
        Append(ref, line);
        if (i % 40 == 0)
            view.Flush();
    }
    view.show();
    ref.show();
    ASSERT_NO_FATAL_FAILURE(ExpectSame(view, ref, n));
    EXPECT_LT(view.document()->blockCount(), ref.document()->blockCount() / 4);

    // A triple click selects one line and its break.
    const int lineStart = ref.document()->findBlockByNumber(105).position();
    for (QPlainTextEdit *v : {static_cast<QPlainTextEdit *>(&view), &ref}) {
        v->verticalScrollBar()->setValue(100);
        QTextCursor c(v->document());
        c.setPosition(lineStart + 2);
        const QPoint at = v->cursorRect(c).center();
        QTest::mouseDClick(v->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, at);
    }
    EXPECT_EQ(view.textCursor().selectionStart(), ref.textCursor().selectionStart());
    EXPECT_EQ(view.textCursor().selectionEnd(), ref.textCursor().selectionEnd());
    // Copied, the lines break as they did.
    view.selectAll();
    view.copy();
    const QString copied = QApplication::clipboard()->text();
    ref.selectAll();
    ref.copy();
    EXPECT_EQ(copied, QApplication::clipboard()->text());

    view.Restart(banner);
    ref.clear();
    ref.setPlainText(banner);
    ref.moveCursor(QTextCursor::End);
    ExpectSame(view, ref, -1);
}

TEST(LogView, FollowsTheEndExactlyWhileLinesComeToShareBlocks)
{
    TLogView view;
    view.TailLines = 16;
    QPlainTextEdit ref;
    Prepare(view);
    Prepare(ref);
    // One line a frame across several groups turning shared.
    for (int n = 0; n < 3 * TLogView::kBlockLines; ++n) {
        const QString line = QStringLiteral("%1\t21.50").arg(n);
        view.AppendLine(line);
        Append(ref, line);
        ASSERT_NO_FATAL_FAILURE(ExpectSame(view, ref, n));
    }
}

TEST(LogView, LinesWaitForTheNextFrameAndReadersSeeThemAll)
{
    TLogView view;
    qint64 now = 1000;
    view.Clock = [&] { return now; };
    view.Restart(QStringLiteral("banner\n"));

    // After a quiet frame a line is written at the next turn.
    view.AppendLine(QStringLiteral("one"));
    EXPECT_EQ(view.PendingLines(), 1);
    QApplication::processEvents();
    EXPECT_EQ(view.PendingLines(), 0);

    // Within the frame the next ones wait, yet reading the view shows them.
    view.AppendLine(QStringLiteral("two"));
    view.AppendLine(QStringLiteral("three"));
    EXPECT_EQ(view.PendingLines(), 2);
    EXPECT_EQ(view.toPlainText(), QStringLiteral("banner\none\ntwo\nthree\n"));
    EXPECT_EQ(view.PendingLines(), 0);

    // Clearing drops the waiting lines too.
    now += 1000;
    view.AppendLine(QStringLiteral("four"));
    view.clear();
    view.AppendLine(QStringLiteral("five"));
    EXPECT_EQ(view.toPlainText(), QStringLiteral("five\n"));
}
