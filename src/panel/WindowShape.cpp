#include "WindowShape.h"

#include "platform/X11Compositor.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

WindowShape::WindowShape(QWidget* view) : QObject(view), m_view(view)
{
    view->installEventFilter(this);
    connect(&X11Compositor::shared(), &X11Compositor::changed, this, [this] {
        m_asked = 0;
        apply();
    });
}

void WindowShape::setOutline(const QPainterPath& outline)
{
    m_outline = outline;
    apply();
}

QRegion WindowShape::coveredPixels(const QPainterPath& outline, const QSize& size, qreal scale)
{
    if (size.isEmpty() || !(scale > 0))
        return {};
    // Drawn as the view draws its clip, at the screen's pixels, so a point
    // counts where every pixel of it is painted opaque.
    const QSize pixels(int(std::ceil(size.width() * scale)), int(std::ceil(size.height() * scale)));
    QImage coverage(pixels, QImage::Format_Alpha8);
    coverage.fill(0);
    {
        QPainter p(&coverage);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        p.fillPath(outline, Qt::black);
    }
    // The pixel span [first, end) of point `i`.
    const auto span = [&](int i, int limit) {
        const int first = std::min(int(std::floor(i * scale)), limit - 1);
        return std::pair(first, std::clamp(int(std::ceil((i + 1) * scale)), first + 1, limit));
    };
    // Runs of covered points, row by row; a row with the runs of the one above extends them.
    std::vector<QRect> rects;
    std::vector<QRect> above; // the previous row's runs, as they stand in `rects`
    std::vector<size_t> aboveIndex;
    std::vector<uchar> covered(size_t(size.width()));
    for (int y = 0; y < size.height(); ++y) {
        const auto [top, bottom] = span(y, pixels.height());
        for (int x = 0; x < size.width(); ++x) {
            const auto [left, right] = span(x, pixels.width());
            bool full = true;
            for (int py = top; py < bottom && full; ++py) {
                const uchar* line = coverage.constScanLine(py);
                for (int px = left; px < right && full; ++px)
                    full = line[px] == 0xFF;
            }
            covered[size_t(x)] = full;
        }
        std::vector<QRect> row;
        for (int x = 0; x < size.width();) {
            if (!covered[size_t(x)]) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < size.width() && covered[size_t(x)])
                ++x;
            row.emplace_back(start, y, x - start, 1);
        }
        const bool same = row.size() == above.size()
            && std::equal(row.begin(), row.end(), above.begin(), [](const QRect& a, const QRect& b) {
                   return a.left() == b.left() && a.width() == b.width();
               });
        if (same) {
            for (size_t index : aboveIndex)
                rects[index].setBottom(y);
            continue;
        }
        above = row;
        aboveIndex.clear();
        for (const QRect& r : row) {
            aboveIndex.push_back(rects.size());
            rects.push_back(r);
        }
    }
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    return region;
}

bool WindowShape::containsGlobalPoint(const QWidget& window, const QPoint& globalPoint)
{
    if (!window.frameGeometry().contains(globalPoint))
        return false;
    const QRegion mask = window.mask();
    return mask.isEmpty() || mask.contains(window.mapFromGlobal(globalPoint));
}

bool WindowShape::eventFilter(QObject* watched, QEvent* event)
{
    // The view is shown once its window has a native window and before the
    // window maps; a new native window (another X screen) may be drawn by
    // another compositing manager, or by none.
    if ((watched == m_view && event->type() == QEvent::Show)
        || (watched == m_window && event->type() == QEvent::WinIdChange))
        apply();
    return false;
}

void WindowShape::apply()
{
    QWidget* window = m_view->window();
    if (window != m_window) {
        if (m_window && m_window != m_view)
            m_window->removeEventFilter(this);
        m_window = window;
        if (window != m_view)
            window->installEventFilter(this);
    }
    const quintptr native = window->internalWinId();
    if (native == 0)
        return; // shaped when it is shown
    // Asked once per native window: a window keeps its X screen.
    if (native != m_asked) {
        m_composited = X11Compositor::shared().composites(native);
        m_asked = native;
    }
    if (m_outline.isEmpty() || m_composited) {
        if (!window->mask().isEmpty())
            window->clearMask();
        return;
    }
    const QPainterPath outline = m_outline.translated(m_view->mapTo(window, QPoint()));
    QRegion shape = coveredPixels(outline, window->size(), window->devicePixelRatio());
    // An empty mask would mean no shape at all: an outline too thin to cover a
    // whole pixel keeps one pixel outside the window instead.
    if (shape.isEmpty())
        shape = QRegion(-1, -1, 1, 1);
    window->setMask(shape);
}
