#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

class QPainter;
class QWidget;

namespace uitest {

// Prepares a UI test process: offscreen platform unless one is set, and the
// pinned font (DejaVu Sans) so text metrics are the same on every machine.
void pinFont();

// Renders `widget` (resized to `size` when given) into a transparent ARGB32 image.
QImage render(QWidget& widget, QSize size = {}, qreal scale = 1.0);

// Renders a painting function on a transparent canvas of `size`.
QImage renderPainting(QSize size, const std::function<void(QPainter&)>& paint, qreal scale = 1.0);

// Saves `image` as `name`.png into the folder named by VANTOREL_RENDER_DIR, when set.
void save(const QImage& image, const QString& name);

// Colour of one pixel, un-premultiplied.
QColor pixel(const QImage& image, int x, int y);

// True when every channel (alpha included) of `a` and `b` differs by at most `tolerance`.
bool near(const QColor& a, const QColor& b, int tolerance = 6);

// Pixels in `rect` whose colour is near `colour`.
int countNear(const QImage& image, const QRect& rect, const QColor& colour, int tolerance = 6);

// Pixels in `rect` with alpha above `minAlpha`.
int countOpaque(const QImage& image, const QRect& rect, int minAlpha = 0);

// Texts of the labels and buttons a user sees under `root`, in widget order.
QStringList visibleTexts(const QWidget& root);

// `colour` drawn with `opacity` over `background` (sRGB, 8-bit), as a painter would blend it.
QColor over(const QColor& colour, const QColor& background, qreal opacity = 1.0);

} // namespace uitest

// main() of a UI test: QApplication on the offscreen platform with the pinned font.
#define VANTOREL_UI_TEST_MAIN(TestClass)                                 \
    int main(int argc, char** argv)                                      \
    {                                                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))              \
            qputenv("QT_QPA_PLATFORM", "offscreen");                     \
        QApplication app(argc, argv);                                    \
        uitest::pinFont();                                               \
        TestClass test;                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                       \
        return QTest::qExec(&test, argc, argv);                          \
    }
