#include "PanelAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace {

constexpr char kHidden[] = "vantorel.accessibilityHidden";
constexpr char kValue[] = "vantorel.accessibleValue";

class PaintedViewAccessible final : public QAccessibleWidget {
public:
    explicit PaintedViewAccessible(QWidget* widget)
        : QAccessibleWidget(widget, isHidden(widget) ? QAccessible::NoRole : QAccessible::Graphic)
    {
    }

    static bool isHidden(const QObject* object) { return object->property(kHidden).toBool(); }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (isHidden(object())) {
            s.invisible = true;
            s.focusable = false;
        }
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (isHidden(object()))
            return {};
        if (t == QAccessible::Value)
            return object()->property(kValue).toString();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* factory(const QString&, QObject* object)
{
    if (object && object->isWidgetType() && (object->property(kHidden).isValid() || object->property(kValue).isValid()))
        return new PaintedViewAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

void installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(&factory);
        return true;
    }();
    (void)installed;
}

} // namespace

namespace panelaccess {

void hide(QWidget* widget)
{
    installFactory();
    widget->setProperty(kHidden, true);
}

void setValue(QWidget* widget, const QString& value)
{
    installFactory();
    if (widget->property(kValue).toString() == value && widget->property(kValue).isValid())
        return;
    widget->setProperty(kValue, value);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(widget, value);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace panelaccess
