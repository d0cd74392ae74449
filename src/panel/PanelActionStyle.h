#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

#include <functional>

class QPainter;

// The look of the panel's action buttons: the label (an optional symbol and
// the text) in the caption font at medium weight, padded 12 by 8 points, on a
// rounded rectangle of corner 10; the whole button at 0.55 opacity when
// disabled, else 0.75 while pressed.
namespace PanelActionStyle {

constexpr qreal kHorizontalPadding = 12;
constexpr qreal kVerticalPadding = 8;
constexpr qreal kCornerRadius = 10;
// The symbol sits in a square of the font's size, this far before the text.
constexpr qreal kSymbolSpacing = 4;
constexpr qreal kDisabledOpacity = 0.55;
constexpr qreal kPressedOpacity = 0.75;

// Draws a symbol into `box` in `colour`.
using SymbolPainter = std::function<void(QPainter& painter, const QRectF& box, const QColor& colour)>;

struct Look {
    QColor background;
    QColor foreground;
    qreal opacity = 1;
};

// Colours and opacity of a button in the given state and appearance.
Look look(bool enabled, bool pressed, bool dark);
QFont font();
// Size of a button showing `text`, with or without a symbol.
QSizeF size(const QString& text, bool withSymbol);
// Paints a button into `rect`; the label is centred in it.
void paint(QPainter& painter, const QRectF& rect, const QString& text, const SymbolPainter& symbol, const Look& look);

} // namespace PanelActionStyle

// A push button drawn in the panel's action style, resolving its colours at
// every paint from the appearance in force.
class PanelActionButton final : public QAbstractButton {
    Q_OBJECT
public:
    explicit PanelActionButton(const QString& text = {}, QWidget* parent = nullptr);

    void setSymbol(PanelActionStyle::SymbolPainter symbol);
    bool hasSymbol() const { return bool(m_symbol); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelActionStyle::SymbolPainter m_symbol;
};
