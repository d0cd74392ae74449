#include "PanelScrollArea.h"

#include "Appearance.h"
#include "PanelPalette.h"

#include <QEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

void stylePanelScrollArea(QScrollArea* scroll)
{
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
}

QScrollArea* makePanelScrollArea(QWidget* parent)
{
    auto* scroll = new QScrollArea(parent);
    stylePanelScrollArea(scroll);
    return scroll;
}

namespace scrollindicator {

QRect thumb(QSize area, int value, int maximum, int page)
{
    const int track = area.height() - 2 * kInset;
    if (maximum <= 0 || page <= 0 || track <= 0 || area.width() < kThickness)
        return {};
    const qint64 content = qint64(page) + maximum;
    const int length = std::clamp(int(qint64(track) * page / content), std::min(kMinimumLength, track), track);
    const int offset = int(qint64(track - length) * std::clamp(value, 0, maximum) / maximum);
    return {area.width() - kInset - kThickness, kInset + offset, kThickness, length};
}

} // namespace scrollindicator

PanelScrollIndicator::PanelScrollIndicator(QScrollArea* scroll)
    : QWidget(scroll)
    , m_scroll(scroll)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    QScrollBar* bar = scroll->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, &PanelScrollIndicator::place);
    connect(bar, &QScrollBar::valueChanged, this, &PanelScrollIndicator::place);
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
    scroll->installEventFilter(this);
    place();
}

QRect PanelScrollIndicator::thumb() const
{
    return isVisibleTo(m_scroll) ? geometry() : QRect();
}

bool PanelScrollIndicator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scroll && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

void PanelScrollIndicator::place()
{
    const QScrollBar* bar = m_scroll->verticalScrollBar();
    const QRect rect = scrollindicator::thumb(m_scroll->size(), bar->value(), bar->maximum(), bar->pageStep());
    setVisible(rect.isValid());
    if (rect.isValid()) {
        setGeometry(rect);
        raise();
    }
}

void PanelScrollIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = palette::withOpacity(palette::color(PanelColor::panelSecondaryText, Appearance::shared().isDark()), kOpacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const QRectF box = QRectF(rect());
    painter.drawRoundedRect(box, box.width() / 2, box.width() / 2);
}
