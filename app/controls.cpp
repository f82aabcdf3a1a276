#include "controls.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

#include <algorithm>

namespace q274 {

TShape::TShape(QWidget *parent) : QWidget(parent)
{
    setFixedSize(16, 16);
    setAttribute(Qt::WA_TranslucentBackground);
}

void TShape::SetPenColor(const QColor &c)
{
    if (FPen != c) {
        FPen = c;
        FLook = QPixmap();
        update();
    }
}

void TShape::SetBrushColor(const QColor &c)
{
    if (FBrush != c) {
        FBrush = c;
        FLook = QPixmap();
        update();
    }
}

void TShape::paintEvent(QPaintEvent *)
{
    // The circle is drawn once for its colours and then copied: it lies on
    // the read-out, which repaints at every reading, and drawing the smooth
    // ring each time was half of what showing a reading cost.
    const qreal dpr = devicePixelRatioF();
    if (FLook.isNull() || FLook.devicePixelRatio() != dpr || FLook.deviceIndependentSize() != QSizeF(size())) {
        FLook = QPixmap(size() * dpr);
        FLook.setDevicePixelRatio(dpr);
        FLook.fill(Qt::transparent);
        QPainter p(&FLook);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(FPen);
        pen.setWidth(PenWidth());
        p.setPen(pen);
        p.setBrush(FBrush);
        // Keep the whole 2-pixel outline inside the 16 x 16 area.
        p.drawEllipse(QRectF(1, 1, width() - 2, height() - 2));
    }
    QPainter(this).drawPixmap(0, 0, FLook);
}

TUpDown::TUpDown(int min, int max, int position, QLineEdit *associate, QWidget *parent)
    : QWidget(parent), FMin(min), FMax(max), FPos(std::clamp(position, min, max)), FAssociate(associate)
{
    FUp = new QToolButton(this);
    FDown = new QToolButton(this);
    FUp->setArrowType(Qt::UpArrow);
    FDown->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {FUp, FDown}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(7, 5));
    }
    connect(FUp, &QToolButton::clicked, this, [this] { Click(true); });
    connect(FDown, &QToolButton::clicked, this, [this] { Click(false); });
    // The arrows take no focus, so the keyboard reaches them through the edit.
    if (FAssociate)
        FAssociate->installEventFilter(this);
    WriteAssociate();
}

void TUpDown::SetPosition(int position)
{
    FPos = std::clamp(position, FMin, FMax);
    WriteAssociate();
}

void TUpDown::Click(bool up) { Step(up ? 1 : -1); }

void TUpDown::Step(int delta)
{
    const int next = std::clamp(FPos + delta, FMin, FMax);
    if (next != FPos) {
        FPos = next;
        WriteAssociate();
    }
    emit clicked(delta > 0);
}

bool TUpDown::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != FAssociate || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *ke = static_cast<QKeyEvent *>(event);
    // Ctrl and Alt combinations stay the window's shortcuts.
    if (ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    int delta = 0;
    switch (ke->key()) {
    case Qt::Key_Up: delta = 1; break;
    case Qt::Key_Down: delta = -1; break;
    case Qt::Key_PageUp: delta = 10; break;
    case Qt::Key_PageDown: delta = -10; break;
    default: return false;
    }
    Step(delta);
    return true;
}

void TUpDown::resizeEvent(QResizeEvent *)
{
    const int half = height() / 2;
    FUp->setGeometry(0, 0, width(), half);
    FDown->setGeometry(0, half, width(), height() - half);
}

void TUpDown::WriteAssociate()
{
    if (FAssociate)
        FAssociate->setText(QString::number(FPos));
}

QSize TTabBar::tabSizeHint(int) const { return QSize(110, 22); }

TPageControl::TPageControl(QWidget *parent) : QTabWidget(parent)
{
    setTabBar(new TTabBar(this));
    setTabPosition(QTabWidget::South);
    tabBar()->setAttribute(Qt::WA_Hover); // hot-tracking
}

} // namespace q274
