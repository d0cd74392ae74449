#include "DiagnosticDetails.h"

#include "CardLabels.h"
#include "PanelPalette.h"
#include "PanelScrollArea.h"

#include <QLabel>

#include <algorithm>

DiagnosticDetails::DiagnosticDetails(QWidget* parent)
    : QScrollArea(parent)
    , m_label(cardlabels::text(TextStyle::caption, PanelColor::panelSecondaryText))
{
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_label->setCursor(Qt::IBeamCursor);
    // No scroll bar takes width from the text, so its height at a width is the one it gets.
    stylePanelScrollArea(this);
    setWidget(m_label);
    m_label->setAutoFillBackground(false); // the card shows through
    setAutoFillBackground(false);
    m_indicator = new PanelScrollIndicator(this);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QRect DiagnosticDetails::indicatorRect() const
{
    return m_indicator->thumb();
}

void DiagnosticDetails::setText(const QString& text)
{
    if (text == m_label->text())
        return;
    m_label->setText(text);
    updateGeometry();
}

QString DiagnosticDetails::text() const
{
    return m_label->text();
}

int DiagnosticDetails::heightForWidth(int width) const
{
    return std::clamp(m_label->heightForWidth(std::max(1, width)), 0, kMaximumHeight);
}

QSize DiagnosticDetails::sizeHint() const
{
    const int w = width() > 0 ? width() : 236;
    return {w, heightForWidth(w)};
}

QSize DiagnosticDetails::minimumSizeHint() const
{
    return {40, sizeHint().height()};
}

void DiagnosticDetails::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    const int wanted = heightForWidth(width());
    if (wanted != height())
        updateGeometry();
}
