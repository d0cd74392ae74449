#include "PanelLayerEffect.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>

PanelLayerEffect::PanelLayerEffect(QObject* parent) : QGraphicsEffect(parent) {}

void PanelLayerEffect::setClipPath(std::optional<QPainterPath> path)
{
    m_clip = std::move(path);
    update();
}

void PanelLayerEffect::setOpacity(qreal opacity)
{
    if (m_opacity == opacity)
        return;
    m_opacity = opacity;
    update();
}

void PanelLayerEffect::setScale(qreal scale, QPointF anchor)
{
    if (m_scale == scale && m_anchor == anchor)
        return;
    m_scale = scale;
    m_anchor = anchor;
    update();
}

void PanelLayerEffect::setOffsetX(qreal dx)
{
    if (m_offsetX == dx)
        return;
    m_offsetX = dx;
    update();
}

void PanelLayerEffect::setBrightness(qreal amount)
{
    if (m_brightness == amount)
        return;
    m_brightness = amount;
    update();
}

bool PanelLayerEffect::isIdentity() const
{
    return !m_clip && m_opacity == 1 && m_scale == 1 && m_offsetX == 0 && m_brightness == 0;
}

void PanelLayerEffect::draw(QPainter* painter)
{
    if (isIdentity()) {
        drawSource(painter);
        return;
    }
    if (m_opacity <= 0)
        return;
    QPoint origin;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &origin, QGraphicsEffect::NoPad);
    if (source.isNull())
        return;
    QImage layer = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(source.devicePixelRatio());

    if (m_brightness > 0) {
        // In premultiplied terms: each channel gains brightness x alpha, up to alpha.
        const int add = qRound(m_brightness * 255);
        for (int y = 0; y < layer.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(layer.scanLine(y));
            for (int x = 0; x < layer.width(); ++x) {
                const QRgb px = line[x];
                const int a = qAlpha(px);
                if (a == 0)
                    continue;
                auto lift = [&](int c) { return std::min(a, c + (add * a + 127) / 255); };
                line[x] = qRgba(lift(qRed(px)), lift(qGreen(px)), lift(qBlue(px)), a);
            }
        }
    }
    if (m_clip) {
        // A coverage mask of the path, drawn over the whole layer so what lies outside goes too.
        QImage mask(layer.size(), QImage::Format_ARGB32_Premultiplied);
        mask.setDevicePixelRatio(layer.devicePixelRatio());
        mask.fill(Qt::transparent);
        {
            QPainter m(&mask);
            m.setRenderHint(QPainter::Antialiasing);
            m.translate(-QPointF(origin));
            m.fillPath(*m_clip, Qt::black);
        }
        QPainter p(&layer);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(QPointF(), mask);
    }

    painter->save();
    painter->setOpacity(painter->opacity() * m_opacity);
    if (m_scale != 1 || m_offsetX != 0) {
        QTransform t;
        t.translate(m_anchor.x() + m_offsetX, m_anchor.y());
        t.scale(m_scale, m_scale);
        t.translate(-m_anchor.x(), -m_anchor.y());
        painter->setWorldTransform(t, true);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
    }
    painter->drawImage(QPointF(origin), layer);
    painter->restore();
}
