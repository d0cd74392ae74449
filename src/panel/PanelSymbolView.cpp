#include "PanelSymbolView.h"

#include "Appearance.h"
#include "PanelAccessibility.h"

#include <QPainter>

#include <cmath>

PanelSymbolView::PanelSymbolView(PanelSymbol symbol, qreal points, PanelColor role, QWidget* parent,
                                 QFont::Weight weight)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_points(points)
    , m_role(role)
    , m_weight(weight)
{
    panelaccess::hide(this);
    const int side = int(std::ceil(panelsymbols::side(points)));
    setFixedSize(side, side);
}

void PanelSymbolView::setSymbol(PanelSymbol symbol)
{
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    update();
}

void PanelSymbolView::setRole(PanelColor role, qreal opacity)
{
    if (role == m_role && opacity == m_opacity)
        return;
    m_role = role;
    m_opacity = opacity;
    update();
}

QSize PanelSymbolView::sizeHint() const
{
    const int side = int(std::ceil(panelsymbols::side(m_points)));
    return {side, side};
}

void PanelSymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colour = palette::color(m_role, Appearance::shared().isDark());
    colour.setAlphaF(float(colour.alphaF() * m_opacity));
    panelsymbols::paint(painter, m_symbol, QRectF(rect()), colour, m_weight);
}
