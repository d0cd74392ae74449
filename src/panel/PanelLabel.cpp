#include "PanelLabel.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

PanelLabel::PanelLabel(QWidget* parent) : QWidget(parent), m_font(font())
{
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

PanelLabel::PanelLabel(const QString& text, QFont font, PanelColor role, QWidget* parent) : PanelLabel(parent)
{
    m_font = std::move(font);
    m_role = role;
    setText(text);
}

void PanelLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void PanelLabel::setTextFont(const QFont& font)
{
    m_font = font;
    updateGeometry();
    update();
}

void PanelLabel::setRole(PanelColor role, qreal opacity)
{
    if (role == m_role && opacity == m_opacity)
        return;
    m_role = role;
    m_opacity = opacity;
    update();
}

QColor PanelLabel::textColor() const
{
    QColor c = palette::color(m_role);
    c.setAlphaF(float(c.alphaF() * m_opacity));
    return c;
}

void PanelLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void PanelLabel::setMinimumScale(qreal scale)
{
    m_minimumScale = std::clamp(scale, 0.01, 1.0);
    update();
}

void PanelLabel::setWordWrap(bool wrap)
{
    m_wrap = wrap;
    setSizePolicy(QSizePolicy::Preferred, wrap ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    updateGeometry();
    update();
}

QFont PanelLabel::fittedFont(qreal width) const
{
    QFont font = m_font;
    if (m_wrap || m_minimumScale >= 1.0 || m_text.isEmpty())
        return font;
    const qreal natural = QFontMetricsF(m_font).horizontalAdvance(m_text);
    if (natural <= width || natural <= 0)
        return font;
    const qreal scale = std::max(m_minimumScale, width / natural);
    const int size = m_font.pixelSize() > 0 ? m_font.pixelSize() : int(std::lround(m_font.pointSizeF()));
    font.setPixelSize(std::max(1, int(std::floor(size * scale))));
    return font;
}

QSize PanelLabel::sizeHint() const
{
    const QFontMetricsF metrics(m_font);
    if (m_wrap) {
        const int width = 240;
        return QSize(width, heightForWidth(width));
    }
    return QSize(int(std::ceil(metrics.horizontalAdvance(m_text))), int(std::ceil(metrics.height())));
}

QSize PanelLabel::minimumSizeHint() const
{
    return QSize(0, int(std::ceil(QFontMetricsF(m_font).height())));
}

int PanelLabel::heightForWidth(int width) const
{
    if (!m_wrap)
        return sizeHint().height();
    const QRectF bounds = QFontMetricsF(m_font).boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, m_text);
    return int(std::ceil(bounds.height()));
}

void PanelLabel::paintEvent(QPaintEvent*)
{
    if (m_text.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(textColor());
    const QRectF area = rect();
    if (m_wrap) {
        painter.setFont(m_font);
        painter.drawText(area, int(m_alignment) | Qt::TextWordWrap, m_text);
        return;
    }
    const QFont font = fittedFont(area.width());
    painter.setFont(font);
    const QString shown = QFontMetricsF(font).elidedText(m_text, Qt::ElideRight, area.width());
    painter.drawText(area, int(m_alignment) | Qt::TextSingleLine, shown);
}
