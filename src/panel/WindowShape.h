#pragma once

#include <QObject>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>

class QWidget;

// Keeps the translucent window of a view shaped to the view's outline while no
// compositing manager draws the window's X screen, where every transparent
// pixel would show black. The window then keeps the pixels its outline covers
// entirely: the rest is the desktop, and pointer events reach the window only
// inside the outline. With a compositing manager the window stays whole, its
// edges antialiased. The shape follows the outline, the window's native
// window and the compositing manager starting and ending.
class WindowShape final : public QObject {
    Q_OBJECT
public:
    // `view` is the view whose outline is given; its window gets the shape.
    explicit WindowShape(QWidget* view);

    // The outline, in the view's coordinates; an empty one leaves the window whole.
    void setOutline(const QPainterPath& outline);
    const QPainterPath& outline() const { return m_outline; }

    // The points of an area of `size` that `outline` covers entirely on a
    // screen of `scale` pixels per point: every pixel of the point is covered.
    static QRegion coveredPixels(const QPainterPath& outline, const QSize& size, qreal scale = 1);

    // True when `globalPoint` lies on `window`, within its shape when it has one.
    static bool containsGlobalPoint(const QWidget& window, const QPoint& globalPoint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply();

    QWidget* m_view;
    QPointer<QWidget> m_window; // the window whose native window events are followed
    QPainterPath m_outline;
    quintptr m_asked = 0; // the native window whose screen m_composited tells of
    bool m_composited = true;
};
