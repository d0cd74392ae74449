#pragma once

#include "usage/UsageProvider.h"

#include <QPainterPath>
#include <QRectF>
#include <QWidget>

class QPainter;

// A provider's mark, drawn by us as one filled path in the panel foreground colour.
// The mark fits a square of `size` points centred in the view (Antigravity's
// square is 1.35 times wider). Hidden from accessibility.
class ProviderIcon final : public QWidget {
    Q_OBJECT
public:
    ProviderIcon(UsageProvider provider, qreal size, QWidget* parent = nullptr);

    UsageProvider provider() const { return m_provider; }
    void setProvider(UsageProvider provider);
    qreal iconSize() const { return m_size; }
    void setIconSize(qreal size);

    QSize sizeHint() const override;

    // Side of the square the mark fits in.
    static qreal frameSide(UsageProvider provider, qreal size);
    // That square, centred on `centre`.
    static QRectF frame(UsageProvider provider, qreal size, QPointF centre);
    // The mark scaled to fit `square`.
    static QPainterPath mark(UsageProvider provider, const QRectF& square);
    // Draws the mark of `provider` at `size` centred in `view`, in the foreground colour of `dark`.
    static void paint(QPainter& painter, const QRectF& view, UsageProvider provider, qreal size, bool dark);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    UsageProvider m_provider;
    qreal m_size;
};
