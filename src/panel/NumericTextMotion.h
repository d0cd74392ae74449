#pragma once

#include <QObject>
#include <QString>
#include <QVariantAnimation>

class QPainter;
class QRectF;

// A figure that rolls to its new value, new digits coming in from below as when
// counting up, whichever way the value moved. Instant under Reduce Motion.
class NumericTextMotion final : public QObject {
    Q_OBJECT
public:
    explicit NumericTextMotion(QObject* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }
    // The text leaving, while the roll runs.
    const QString& previous() const { return m_previous; }
    // 0 ... 1 through the roll; 1 at rest.
    double progress() const;
    QVariantAnimation& animation() { return m_animation; }

    // Draws the text (and the one leaving) into `rect` with `flags`, clipped to it.
    void paint(QPainter& painter, const QRectF& rect, int flags) const;

signals:
    void changed();

private:
    QString m_text;
    QString m_previous;
    QVariantAnimation m_animation;
};
