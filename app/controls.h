// Small controls of the main window: the round relay indicator, the up-down
// spinner bound to a read-only edit, and the page control with its tabs at
// the bottom.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace q274 {

// A circle filling its 16 x 16 area: outline of the given width and colour,
// filled with the brush colour.
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget *parent = nullptr);
    void SetPenColor(const QColor &c);
    void SetBrushColor(const QColor &c);
    QColor PenColor() const { return FPen; }
    QColor BrushColor() const { return FBrush; }
    int PenWidth() const { return 2; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor FPen{0, 0, 0};
    QColor FBrush{192, 192, 192};
    QPixmap FLook; // the circle as drawn for these colours, or none yet
};

// Up-down spinner: the only writer of its associated edit's text. Clicks
// stop at the limits (no wrap-around); every click is reported, also one
// that could not move. On the focused edit, Up and Down step by 1 and Page Up
// and Page Down by 10, each press reported as one click.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(int min, int max, int position, QLineEdit *associate, QWidget *parent = nullptr);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPos; }
    // One click on the up (true) or down (false) arrow.
    void Click(bool up);
    // Moves to position (clamped) and writes the edit, without a click.
    void SetPosition(int position);
    // Moves by delta within the limits and reports it as one click.
    void Step(int delta);
    QToolButton *UpButton() const { return FUp; }
    QToolButton *DownButton() const { return FDown; }

signals:
    void clicked(bool up);

protected:
    void resizeEvent(QResizeEvent *) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void WriteAssociate();
    int FMin, FMax, FPos;
    QLineEdit *FAssociate;
    QToolButton *FUp;
    QToolButton *FDown;
};

class TTabBar : public QTabBar {
    Q_OBJECT
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override;
};

// Page control with 110 x 22 tabs at the bottom.
class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget *parent = nullptr);
};

} // namespace q274
