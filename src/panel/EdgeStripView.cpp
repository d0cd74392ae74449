#include "EdgeStripView.h"

#include "Appearance.h"
#include "EdgeRowLayout.h"
#include "PanelPalette.h"
#include "UsageFormat.h"
#include "accounts/UsageAccounts.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

EdgeStripSegment EdgeStripSegment::make(const QString& id, const ProviderUsage& usage)
{
    EdgeStripSegment segment {id, usage.provider, std::nullopt, false};
    const std::optional<double> peak = usage.peakUsedPercent();
    if (!peak || !std::isfinite(*peak))
        return segment;
    const double f = std::clamp(*peak / 100.0, 0.0, 1.0);
    segment.fill = f;
    segment.isSpent = f == 1.0;
    return segment;
}

QList<EdgeStripSegment> EdgeStripSegment::segments(const UsageAccounts& accounts)
{
    QList<EdgeStripSegment> out;
    for (const ProviderProfile& profile : accounts.visibleProfilesByProvider())
        out.append(make(profile.id(), accounts.usage(profile)));
    return out;
}

namespace edgestrip {

QPainterPath diagonalHatch(const QRectF& rect, qreal spacing)
{
    QPainterPath path;
    const qreal step = spacing * std::sqrt(2.0);
    if (!(step > 0) || rect.isEmpty())
        return path;
    for (qreal x = rect.left() - rect.height(); x < rect.right(); x += step) {
        path.moveTo(x, rect.top());
        path.lineTo(x + rect.height(), rect.bottom());
    }
    return path;
}

std::optional<qreal> barHeight(const EdgeStripSegment& segment, qreal height)
{
    if (!segment.fill)
        return std::nullopt;
    return std::max(kMinimumBar, height * *segment.fill);
}

QRectF segmentRect(int index, qreal width)
{
    return QRectF(0, edgerows::kTopInset + index * (edgerows::kRowHeight + edgerows::kRowSpacing), width, edgerows::kRowHeight);
}

void paintSegment(QPainter& painter, const QRectF& rect, const EdgeStripSegment& segment, bool dark)
{
    if (rect.isEmpty())
        return;
    // The layers go into their own image so the capsule can clip them with antialiasing.
    const QTransform device = painter.deviceTransform();
    const qreal scale = std::max<qreal>(1.0, std::hypot(device.m11(), device.m12()));
    QImage layer((rect.size() * scale).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(scale);
    layer.fill(Qt::transparent);
    const QRectF local(QPointF(0, 0), rect.size());
    const qreal radius = local.width() / 2;
    const QColor accent = palette::color(usageformat::accent(segment.provider), dark);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        QColor track = accent;
        track.setAlphaF(float(accent.alphaF() * kTrackOpacity));
        p.fillRect(local, track);
        if (const auto bar = barHeight(segment, local.height()))
            p.fillRect(QRectF(0, local.bottom() - *bar, local.width(), *bar), accent);
        if (segment.isSpent) {
            QColor line = palette::color(PanelColor::panelBackground, dark);
            line.setAlphaF(float(kHatchOpacity));
            QPen pen(line, kHatchLineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
            pen.setMiterLimit(10);
            p.strokePath(diagonalHatch(local, kHatchSpacing), pen);
            p.setPen(QPen(accent, 1.0));
            p.setBrush(Qt::NoBrush);
            const QRectF inside = local.adjusted(0.5, 0.5, -0.5, -0.5);
            p.drawRoundedRect(inside, inside.width() / 2, inside.width() / 2);
        }
        QPainterPath capsule;
        capsule.addRoundedRect(local, radius, radius);
        QImage mask(layer.size(), QImage::Format_ARGB32_Premultiplied);
        mask.setDevicePixelRatio(scale);
        mask.fill(Qt::transparent);
        {
            QPainter m(&mask);
            m.setRenderHint(QPainter::Antialiasing);
            m.fillPath(capsule, Qt::black);
        }
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(QPointF(0, 0), mask);
    }
    painter.drawImage(rect.topLeft(), layer);
}

} // namespace edgestrip

EdgeStripView::EdgeStripView(QWidget* parent)
    : QAbstractButton(parent)
{
    setAccessibleName(QStringLiteral("Открыть Vantorel"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void EdgeStripView::setSegments(QList<EdgeStripSegment> segments)
{
    if (segments == m_segments)
        return;
    m_segments = std::move(segments);
    update();
}

QSize EdgeStripView::sizeHint() const
{
    return QSize(4, int(std::ceil(edgerows::neededHeight(int(m_segments.size())))));
}

bool EdgeStripView::hitButton(const QPoint& pos) const
{
    // Gaps and the empty part below the last segment count too.
    return rect().contains(pos);
}

void EdgeStripView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = Appearance::shared().isDark();
    for (int i = 0; i < m_segments.size(); ++i)
        edgestrip::paintSegment(painter, edgestrip::segmentRect(i, width()), m_segments.at(i), dark);
}
