// The layout's own look, the same on every desktop: black text on the beige
// window colour, one sans font family with one fallback for every window,
// and modal windows in the centre of the screen.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace q274 {

inline const QColor kLayoutBackground(221, 219, 213);

// A complete palette (every role, every colour group) built on the window
// colour, so nothing of a dark desktop theme shows through.
QPalette LayoutPalette();

// The family asked for (Tahoma, Arial) where installed, else the same
// metric-compatible fallback everywhere.
QFont LayoutFont(int pixels, bool bold = false, const char *family = "Tahoma");
QFont LayoutMonoFont(int pixels);

// Moves a window that is about to be shown to the centre of its screen.
void CentreOnScreen(QWidget *window);

} // namespace q274
