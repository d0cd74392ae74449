#pragma once

#include <QScrollArea>

class PanelScrollIndicator;
class QLabel;

// The error text inside a card: selectable plain text, as high as it wraps at
// the width it gets up to 120 points, scrolling beyond with a thin indicator.
class DiagnosticDetails final : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kMaximumHeight = 120;

    explicit DiagnosticDetails(QWidget* parent = nullptr);

    // Keeps a selection while the text stays the same.
    void setText(const QString& text);
    QString text() const;
    QLabel* label() const { return m_label; }
    // The scroll indicator's thumb; invalid while the text fits.
    QRect indicatorRect() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* m_label;
    PanelScrollIndicator* m_indicator;
};
