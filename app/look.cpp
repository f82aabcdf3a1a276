#include "look.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

namespace q274 {

QPalette LayoutPalette()
{
    // Text and base colours follow from the window colour's lightness:
    // black text, white edit fields.
    QPalette p(kLayoutBackground, kLayoutBackground);
    p.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    p.setColor(QPalette::ToolTipText, Qt::black);
    p.setColor(QPalette::PlaceholderText, QColor(128, 128, 128));
    return p;
}

QFont LayoutFont(int pixels, bool bold, const char *family)
{
    QFont f;
    f.setFamilies({QString::fromLatin1(family), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                   QStringLiteral("Sans Serif")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QFont LayoutMonoFont(int pixels)
{
    QFont f;
    f.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono"),
                   QStringLiteral("Monospace")});
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(pixels);
    return f;
}

void SetApplicationLook()
{
    QApplication::setPalette(LayoutPalette());
    QApplication::setFont(LayoutFont(12));
}

void CentreOnScreen(QWidget *window)
{
    QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect r = window->frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    window->move(r.topLeft());
}

void SetTextColor(QWidget *widget, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    widget->setPalette(p);
}

QFrame *EtchedLine(QWidget *parent, const char *name, int x, int y, int w)
{
    auto *f = Make<QFrame>(parent, name, x, y, w, 2);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

} // namespace q274
