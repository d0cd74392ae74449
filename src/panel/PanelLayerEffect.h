#pragma once

#include <QGraphicsEffect>
#include <QPainterPath>
#include <QPointF>

#include <optional>

// Draws a widget and its children as one ARGB layer, then: masks it with an
// antialiased path, brightens it, scales it about an anchor, moves it and
// fades it. The panel uses it for the antialiased outline clip (which
// setClipPath cannot give, nor does it reach child widgets), for the mode
// transitions and for the press feedback of its buttons. With nothing set
// it draws the widget untouched.
class PanelLayerEffect final : public QGraphicsEffect {
    Q_OBJECT
public:
    explicit PanelLayerEffect(QObject* parent = nullptr);

    // Mask, in the widget's coordinates; none draws everything.
    void setClipPath(std::optional<QPainterPath> path);
    const std::optional<QPainterPath>& clipPath() const { return m_clip; }

    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }

    // Uniform scale about `anchor`, a point in the widget's coordinates.
    void setScale(qreal scale, QPointF anchor);
    qreal scale() const { return m_scale; }

    // Horizontal shift in points, after scaling.
    void setOffsetX(qreal dx);
    qreal offsetX() const { return m_offsetX; }

    // Added to every colour channel where the layer is opaque (0.06 is six percent of white).
    void setBrightness(qreal amount);
    qreal brightness() const { return m_brightness; }

    // True when drawing would change nothing.
    bool isIdentity() const;

protected:
    void draw(QPainter* painter) override;

private:
    std::optional<QPainterPath> m_clip;
    qreal m_opacity = 1;
    qreal m_scale = 1;
    QPointF m_anchor;
    qreal m_offsetX = 0;
    qreal m_brightness = 0;
};
