#include "controls.h"

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
    if (pen_ != c) {
        pen_ = c;
        update();
    }
}

void TShape::SetBrushColor(const QColor &c)
{
    if (brush_ != c) {
        brush_ = c;
        update();
    }
}

void TShape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(pen_);
    pen.setWidth(PenWidth());
    p.setPen(pen);
    p.setBrush(brush_);
    // Keep the whole 2-pixel outline inside the 16 x 16 area.
    p.drawEllipse(QRectF(1, 1, width() - 2, height() - 2));
}

TUpDown::TUpDown(int min, int max, int position, QLineEdit *associate, QWidget *parent)
    : QWidget(parent), min_(min), max_(max), pos_(std::clamp(position, min, max)), associate_(associate)
{
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(7, 5));
    }
    connect(up_, &QToolButton::clicked, this, [this] { Click(true); });
    connect(down_, &QToolButton::clicked, this, [this] { Click(false); });
    WriteAssociate();
}

void TUpDown::Click(bool up)
{
    const int next = std::clamp(pos_ + (up ? 1 : -1), min_, max_);
    if (next != pos_) {
        pos_ = next;
        WriteAssociate();
    }
    emit clicked(up);
}

void TUpDown::resizeEvent(QResizeEvent *)
{
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

void TUpDown::WriteAssociate()
{
    if (associate_)
        associate_->setText(QString::number(pos_));
}

QSize TTabBar::tabSizeHint(int) const
{
    return QSize(110, 22);
}

TPageControl::TPageControl(QWidget *parent) : QTabWidget(parent)
{
    setTabBar(new TTabBar(this));
    setTabPosition(QTabWidget::South);
    tabBar()->setAttribute(Qt::WA_Hover);   // hot-tracking
}

} // namespace q274
