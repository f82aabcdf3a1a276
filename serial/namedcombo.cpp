#include "namedcombo.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAbstractItemView>

namespace q274 {

namespace {

// Name: the accessible name when there is one, else the value; the value and
// the actions as for any list.
class TNamedComboAccessible : public QAccessibleWidget {
public:
    explicit TNamedComboAccessible(QComboBox *combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && !Combo()->accessibleName().isEmpty())
            return Combo()->accessibleName();
        if (t == QAccessible::Name || t == QAccessible::Value)
            return Combo()->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = Combo()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (Combo()->view()->isVisible())
            Combo()->hidePopup();
        else
            Combo()->showPopup();
    }

private:
    QComboBox *Combo() const { return static_cast<QComboBox *>(widget()); }
};

// Asked with the most derived class name first, so it is reached before
// Qt's own interface for QComboBox.
QAccessibleInterface *NamedComboFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(TNamedComboBox::staticMetaObject.className()))
        if (auto *combo = qobject_cast<TNamedComboBox *>(object))
            return new TNamedComboAccessible(combo);
    return nullptr;
}

} // namespace

TNamedComboBox::TNamedComboBox(QWidget *parent) : QComboBox(parent)
{
    static const bool installed = (QAccessible::installFactory(&NamedComboFactory), true);
    (void)installed;
}

} // namespace q274
