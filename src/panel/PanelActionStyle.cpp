#include "PanelActionStyle.h"

#include "Appearance.h"
#include "PanelPalette.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace PanelActionStyle {

Look look(bool enabled, bool pressed, bool dark)
{
    Look l;
    l.background = palette::color(PanelColor::actionButtonBackground, dark);
    l.foreground = palette::color(PanelColor::actionButtonForeground, dark);
    l.opacity = !enabled ? kDisabledOpacity : (pressed ? kPressedOpacity : 1.0);
    return l;
}

QFont font()
{
    return fonts::style(TextStyle::caption, QFont::Medium);
}

namespace {

qreal symbolSide(const QFont& f) { return f.pixelSize() > 0 ? f.pixelSize() : f.pointSizeF(); }

qreal labelWidth(const QFontMetricsF& metrics, const QString& text, bool withSymbol, qreal side)
{
    qreal width = metrics.horizontalAdvance(text);
    if (withSymbol)
        width += side + (text.isEmpty() ? 0 : kSymbolSpacing);
    return width;
}

} // namespace

QSizeF size(const QString& text, bool withSymbol)
{
    const QFont f = font();
    const QFontMetricsF metrics(f);
    const qreal width = labelWidth(metrics, text, withSymbol, symbolSide(f));
    return {std::ceil(width) + 2 * kHorizontalPadding, std::ceil(metrics.height()) + 2 * kVerticalPadding};
}

namespace {

void paintOpaque(QPainter& painter, const QRectF& rect, const QString& text, const SymbolPainter& symbol,
                 const Look& look)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath background;
    background.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    painter.fillPath(background, look.background);

    const QFont f = font();
    const QFontMetricsF metrics(f);
    const qreal side = symbolSide(f);
    const qreal width = labelWidth(metrics, text, bool(symbol), side);
    qreal x = rect.center().x() - width / 2;
    if (symbol) {
        symbol(painter, QRectF(x, rect.center().y() - side / 2, side, side), look.foreground);
        x += side + kSymbolSpacing;
    }
    painter.setFont(f);
    painter.setPen(look.foreground);
    const qreal baseline = rect.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    painter.drawText(QPointF(x, baseline), text);
}

} // namespace

void paint(QPainter& painter, const QRectF& rect, const QString& text, const SymbolPainter& symbol, const Look& look)
{
    painter.save();
    if (look.opacity >= 1) {
        paintOpaque(painter, rect, text, symbol, look);
    } else {
        // The opacity applies to the button as a whole, not to each of its layers.
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        QImage layer((rect.size() * ratio).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        {
            QPainter inner(&layer);
            paintOpaque(inner, QRectF(QPointF(0, 0), rect.size()), text, symbol, look);
        }
        painter.setOpacity(painter.opacity() * look.opacity);
        painter.drawImage(rect.topLeft(), layer);
    }
    painter.restore();
}

} // namespace PanelActionStyle

PanelActionButton::PanelActionButton(const QString& text, QWidget* parent) : QAbstractButton(parent)
{
    setText(text);
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
}

void PanelActionButton::setSymbol(PanelActionStyle::SymbolPainter symbol)
{
    m_symbol = std::move(symbol);
    updateGeometry();
    update();
}

QSize PanelActionButton::sizeHint() const
{
    return PanelActionStyle::size(text(), hasSymbol()).toSize();
}

void PanelActionButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PanelActionStyle::paint(painter, QRectF(rect()), text(), m_symbol,
                            PanelActionStyle::look(isEnabled(), isDown(), Appearance::shared().isDark()));
}
