#include "RenderHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QWidget>

#include <cmath>
#include <cstdlib>

namespace uitest {

void pinFont()
{
    static const char* const files[] = {
        "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
        "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    };
    QString family;
    for (const char* file : files) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        if (id >= 0 && family.isEmpty())
            family = QFontDatabase::applicationFontFamilies(id).value(0);
    }
    if (family.isEmpty())
        qFatal("the pinned test font (fonts-dejavu-core) is missing");
    QFont font(family);
    font.setPixelSize(13);
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
}

QImage render(QWidget& widget, QSize size, qreal scale)
{
    if (size.isValid())
        widget.resize(size);
    widget.ensurePolished();
    if (auto* layout = widget.layout())
        layout->activate();
    QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    image.setDevicePixelRatio(1.0);
    return image;
}

QImage renderPainting(QSize size, const std::function<void(QPainter&)>& paint, qreal scale)
{
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        paint(painter);
    }
    return image;
}

void save(const QImage& image, const QString& name)
{
    const QString folder = qEnvironmentVariable("VANTOREL_RENDER_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    image.save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

QColor pixel(const QImage& image, int x, int y)
{
    return QColor::fromRgba(qUnpremultiply(image.pixel(x, y)));
}

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

int countNear(const QImage& image, const QRect& rect, const QColor& colour, int tolerance)
{
    int count = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (near(pixel(image, x, y), colour, tolerance))
                ++count;
    return count;
}

int countOpaque(const QImage& image, const QRect& rect, int minAlpha)
{
    int count = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qAlpha(image.pixel(x, y)) > minAlpha)
                ++count;
    return count;
}

QStringList visibleTexts(const QWidget& root)
{
    QStringList out;
    for (QWidget* w : root.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&root))
            continue;
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty())
            out << label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty())
            out << button->text();
    }
    return out;
}

QColor over(const QColor& colour, const QColor& background, qreal opacity)
{
    const qreal a = colour.alphaF() * opacity;
    const qreal b = background.alphaF();
    const qreal outA = a + b * (1 - a);
    if (outA <= 0)
        return QColor(0, 0, 0, 0);
    auto channel = [&](qreal c, qreal bg) { return (c * a + bg * b * (1 - a)) / outA; };
    QColor out;
    out.setRgbF(float(channel(colour.redF(), background.redF())), float(channel(colour.greenF(), background.greenF())),
                float(channel(colour.blueF(), background.blueF())), float(outA));
    return out;
}

} // namespace uitest
