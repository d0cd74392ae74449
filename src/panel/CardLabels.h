#pragma once

#include "PanelPalette.h"
#include "PanelSymbols.h"

#include <QColor>
#include <QFont>

#include <optional>

class QLabel;
class QWidget;

// The plain labels of the cards and the reset control: Qt labels whose text
// colour follows a palette role through every change of appearance.
namespace cardlabels {

// `role` in the appearance in force, its alpha scaled by `opacity`.
QColor roleColour(PanelColor role, qreal opacity = 1.0);

// Keeps the text colour of `widget` (a label) at `role` with `opacity`, now and
// whenever the appearance changes. A later call replaces the role.
void followTextRole(QWidget* widget, PanelColor role, qreal opacity = 1.0);

// Plain text in a text style and role; wrapping takes the height its width needs.
QLabel* text(TextStyle style, PanelColor role, QWidget* parent = nullptr,
             std::optional<QFont::Weight> weight = std::nullopt, bool wrap = true);

// A symbol before a text, the symbol beside the first line, as a label shows them.
QLabel* withSymbol(PanelSymbol symbol, const QString& text, TextStyle style, PanelColor role, QWidget* parent = nullptr,
                   int verticalPadding = 0, std::optional<QFont::Weight> weight = std::nullopt);

} // namespace cardlabels
