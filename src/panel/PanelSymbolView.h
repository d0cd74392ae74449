#pragma once

#include "PanelPalette.h"
#include "PanelSymbols.h"

#include <QFont>
#include <QWidget>

// One panel symbol in a palette colour, sized for text of `points`, resolved at
// paint time. Hidden from accessibility: the view around it speaks for it.
class PanelSymbolView final : public QWidget {
    Q_OBJECT
public:
    PanelSymbolView(PanelSymbol symbol, qreal points, PanelColor role, QWidget* parent = nullptr,
                    QFont::Weight weight = QFont::Normal);

    PanelSymbol symbol() const { return m_symbol; }
    void setSymbol(PanelSymbol symbol);
    PanelColor role() const { return m_role; }
    void setRole(PanelColor role, qreal opacity = 1.0);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelSymbol m_symbol;
    qreal m_points;
    PanelColor m_role;
    qreal m_opacity = 1.0;
    QFont::Weight m_weight;
};
