#include "CardLabels.h"

#include "Appearance.h"
#include "PanelSymbolView.h"

#include <QFontMetricsF>
#include <QLabel>

#include <cmath>

namespace cardlabels {

QColor roleColour(PanelColor role, qreal opacity)
{
    return palette::withOpacity(palette::color(role, Appearance::shared().isDark()), opacity);
}

void followTextRole(QWidget* widget, PanelColor role, qreal opacity)
{
    // One connection per widget: a later call with another role replaces it.
    const char* const key = "vantorelTextRole";
    const QString wanted = QString::number(int(role)) + QLatin1Char('@') + QString::number(opacity);
    if (widget->property("vantorelTextRoleName").toString() == wanted)
        return;
    widget->setProperty("vantorelTextRoleName", wanted);
    auto apply = [widget, role, opacity](bool dark) {
        const QColor colour = palette::withOpacity(palette::color(role, dark), opacity);
        QPalette p = widget->palette();
        p.setColor(QPalette::WindowText, colour);
        p.setColor(QPalette::Text, colour);
        widget->setPalette(p);
    };
    apply(Appearance::shared().isDark());
    if (auto* old = widget->property(key).value<QObject*>())
        delete old;
    auto* guard = new QObject(widget);
    widget->setProperty(key, QVariant::fromValue<QObject*>(guard));
    QObject::connect(&Appearance::shared(), &Appearance::changed, guard, apply);
}

QLabel* text(TextStyle style, PanelColor role, QWidget* parent, std::optional<QFont::Weight> weight, bool wrap)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(fonts::style(style, weight));
    label->setWordWrap(wrap);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A wrapping label's own minimum is two lines; its layout gives it the height its width needs.
    label->setMinimumHeight(int(std::ceil(QFontMetricsF(label->font()).height())));
    followTextRole(label, role);
    return label;
}

QLabel* withSymbol(PanelSymbol symbol, const QString& content, TextStyle style, PanelColor role, QWidget* parent,
                   int verticalPadding, std::optional<QFont::Weight> weight)
{
    QLabel* label = text(style, role, parent, weight);
    label->setText(content);
    auto* icon = new PanelSymbolView(symbol, fonts::pointSize(style), role, label, weight.value_or(QFont::Normal));
    const int lineHeight = int(std::ceil(QFontMetricsF(label->font()).height()));
    label->setContentsMargins(icon->width() + 5, verticalPadding, 0, verticalPadding);
    label->setMinimumHeight(lineHeight + 2 * verticalPadding);
    icon->move(0, verticalPadding + std::max(0, (lineHeight - icon->height()) / 2));
    return label;
}

} // namespace cardlabels
