// The manual's look: page geometry, colours and fonts, and the styling of
// the document that the Markdown becomes (headings, code, tables, notes),
// with the headings kept on the page of their text.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <vector>

class QTextDocument;

namespace manual {

constexpr int kDpi = 300;
constexpr double kMarginLeftMm = 22;
constexpr double kMarginRightMm = 20;
constexpr double kMarginTopMm = 20;
constexpr double kMarginBottomMm = 24; // the footer sits in here

inline const QColor kInk(30, 30, 30);
inline const QColor kHeadingInk(20, 50, 95);
inline const QColor kRule(150, 150, 150);
inline const QColor kCodeBackground(240, 240, 236);
inline const QColor kTableHeader(226, 230, 236);
inline const QColor kNoteBackground(253, 244, 220);

inline double mmToPx(double mm) { return mm * kDpi / 25.4; }

// Frame and block margins are in device pixels; think of them in points.
inline double ptToPx(double pt) { return pt * kDpi / 72.0; }

QFont bodyFont();

struct Heading {
    int level;
    QString text;
    int page; // 0-based page of the body
};

// Splits off the first "# " heading as the title.
QString takeTitle(QString &markdown);
void styleDocument(QTextDocument &doc);
// A heading must not end a page with its text on the next one: such a
// heading starts the next page instead.
void keepHeadingsWithText(QTextDocument &doc, double pageHeight);
std::vector<Heading> collectHeadings(QTextDocument &doc, double pageHeight);

} // namespace manual
