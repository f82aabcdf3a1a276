// The layout's own look, the same on every desktop: black text on the beige
// window colour, one sans font family with one fallback for every window,
// and modal windows in the centre of the screen.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include <QFrame>
#include <QString>
#include <QWidget>

namespace q274 {

inline const QColor kLayoutBackground(221, 219, 213);

// A complete palette (every role, every colour group) built on the window
// colour, so nothing of a dark desktop theme shows through.
QPalette LayoutPalette();

// The family asked for (Tahoma, Arial) where installed, else the same
// metric-compatible fallback everywhere.
QFont LayoutFont(int pixels, bool bold = false, const char *family = "Tahoma");
QFont LayoutMonoFont(int pixels);

// The layout's palette and font for the whole application, set once at
// start-up: controls under the main window's style sheet take the
// application's palette and font, not the window's, and every window and page
// then falls back to the same font.
void SetApplicationLook();

// Moves a window that is about to be shown to the centre of its screen.
void CentreOnScreen(QWidget *window);

// Text colour of a label, box or edit.
void SetTextColor(QWidget *widget, const QColor &colour);

// A control of a fixed-geometry layout, named so it can be found by name.
template <typename T> T *Make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    T *c = new T(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(x, y, w, h);
    return c;
}

// A 2-pixel etched horizontal line.
QFrame *EtchedLine(QWidget *parent, const char *name, int x, int y, int w);

// A per-channel control name: "edtSP" and 1 give "edtSP1".
inline QString ChannelName(const char *base, int channel)
{
    return QString::fromLatin1(base) + QString::number(channel);
}

} // namespace q274
