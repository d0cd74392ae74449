#include "ProviderHeaderView.h"

#include "CardLabels.h"
#include "PanelAccessibility.h"
#include "PanelPalette.h"
#include "ProviderUsageBadge.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

using cardlabels::roleColour;

struct ProviderHeaderView::Lines {
    QFont name = fonts::style(TextStyle::headline);
    QFont profile = fonts::style(TextStyle::caption, QFont::DemiBold);
    QFont maker = fonts::style(TextStyle::caption);
    QFont peak = fonts::style(TextStyle::title3, QFont::DemiBold);
    qreal textLeft = 0;
    qreal textWidth = 0;
    qreal nameHeight = 0;
    qreal profileHeight = 0;
    qreal makerHeight = 0;
    qreal columnHeight = 0;
    qreal peakWidth = 0;
    qreal height = 0;
};

ProviderHeaderView::ProviderHeaderView(QWidget* parent)
    : QWidget(parent)
    , m_badge(new ProviderUsageBadge(this))
    , m_peak(new NumericTextMotion(this))
{
    connect(m_peak, &NumericTextMotion::changed, this, qOverload<>(&QWidget::update));
    // One element: the badge's rings are read out as the header's value.
    panelaccess::hide(m_badge);
    panelaccess::setValue(this, QString());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

qreal ProviderHeaderView::badgeSide() const
{
    return m_badge->sizeHint().width();
}

ProviderHeaderView::Lines ProviderHeaderView::lines(int width) const
{
    Lines l;
    const qreal side = badgeSide();
    l.textLeft = side + kSpacing;
    if (!m_model.peakText.isEmpty())
        l.peakWidth = std::ceil(QFontMetricsF(l.peak).horizontalAdvance(m_model.peakText));
    l.textWidth = std::max<qreal>(1, width - l.textLeft - kMinimumGap - l.peakWidth);
    l.nameHeight = QFontMetricsF(l.name).height();
    l.makerHeight = QFontMetricsF(l.maker).height();
    if (m_model.profileName) {
        const QFontMetricsF m(l.profile);
        l.profileHeight = m.boundingRect(QRectF(0, 0, l.textWidth, 1e6), Qt::TextWordWrap, *m_model.profileName).height();
    }
    l.columnHeight = l.nameHeight + kLineSpacing + l.makerHeight + (m_model.profileName ? l.profileHeight + kLineSpacing : 0);
    l.height = std::ceil(std::max(side, l.columnHeight));
    return l;
}

void ProviderHeaderView::apply(const ProviderHeaderModel& model)
{
    if (m_applied && model == m_model)
        return;
    const bool sizeChanged = !m_applied || model.profileName != m_model.profileName || model.peakText.size() != m_model.peakText.size()
        || model.usage.windows.size() != m_model.usage.windows.size() || model.usage.provider != m_model.usage.provider;
    m_applied = true;
    m_model = model;
    m_badge->setUsage(model.usage);
    m_peak->setText(model.peakText);
    setAccessibleName(model.accessibleName);
    panelaccess::setValue(this, m_badge->currentLayout().summary);
    if (sizeChanged)
        updateGeometry();
    resizeEvent(nullptr);
    update();
}

QRectF ProviderHeaderView::peakRect(int width) const
{
    const Lines l = lines(width);
    if (l.peakWidth <= 0)
        return {};
    const qreal h = QFontMetricsF(l.peak).height();
    return QRectF(width - l.peakWidth, (l.height - h) / 2, l.peakWidth, h);
}

int ProviderHeaderView::heightForWidth(int width) const
{
    return int(lines(width).height);
}

QSize ProviderHeaderView::sizeHint() const
{
    return {272, heightForWidth(272)};
}

QSize ProviderHeaderView::minimumSizeHint() const
{
    return {int(badgeSide() + kSpacing + kMinimumGap) + 40, int(badgeSide())};
}

void ProviderHeaderView::resizeEvent(QResizeEvent*)
{
    const qreal side = badgeSide();
    m_badge->setGeometry(0, int(std::lround((height() - side) / 2)), int(side), int(side));
}

bool ProviderHeaderView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (peakRect(width()).contains(help->pos())) {
            QToolTip::showText(help->globalPos(), cardtext::kPeakTooltip, this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

void ProviderHeaderView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Lines l = lines(width());
    qreal y = (l.height - l.columnHeight) / 2;
    const QRectF nameRect(l.textLeft, y, l.textWidth, l.nameHeight);
    p.setFont(l.name);
    p.setPen(roleColour(PanelColor::panelPrimaryText));
    p.drawText(nameRect, Qt::AlignLeft | Qt::AlignTop,
               QFontMetricsF(l.name).elidedText(m_model.providerName, Qt::ElideRight, l.textWidth));
    y += l.nameHeight + kLineSpacing;
    if (m_model.profileName) {
        p.setFont(l.profile);
        p.setPen(roleColour(PanelColor::panelSecondaryText));
        p.drawText(QRectF(l.textLeft, y, l.textWidth, l.profileHeight), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                   *m_model.profileName);
        y += l.profileHeight + kLineSpacing;
    }
    p.setFont(l.maker);
    p.setPen(roleColour(PanelColor::panelSecondaryText));
    p.drawText(QRectF(l.textLeft, y, l.textWidth, l.makerHeight), Qt::AlignLeft | Qt::AlignTop,
               QFontMetricsF(l.maker).elidedText(m_model.makerLine, Qt::ElideRight, l.textWidth));

    const QRectF peak = peakRect(width());
    if (!peak.isEmpty()) {
        p.setFont(l.peak);
        p.setPen(roleColour(PanelColor::panelPrimaryText));
        m_peak->paint(p, peak.adjusted(-1, 0, 1, 0), Qt::AlignRight | Qt::AlignVCenter);
    }
}
