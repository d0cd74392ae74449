#pragma once

#include "PanelPalette.h"

#include <QWidget>

#include <optional>

// Text in one of the panel's colours, resolved at paint time. One line by
// default, shrinking its font down to `minimumScale` before it elides; or
// wrapping onto as many lines as its width needs.
class PanelLabel : public QWidget {
    Q_OBJECT
public:
    explicit PanelLabel(QWidget* parent = nullptr);
    PanelLabel(const QString& text, QFont font, PanelColor role, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }

    void setTextFont(const QFont& font);
    const QFont& textFont() const { return m_font; }

    void setRole(PanelColor role, qreal opacity = 1.0);
    PanelColor role() const { return m_role; }
    qreal roleOpacity() const { return m_opacity; }
    // The colour the text is drawn in now.
    QColor textColor() const;

    void setAlignment(Qt::Alignment alignment);
    void setMinimumScale(qreal scale);
    void setWordWrap(bool wrap);

    // The font the current text is drawn with in `width` (shrunk when it does not fit).
    QFont fittedFont(qreal width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_wrap; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QFont m_font;
    PanelColor m_role = PanelColor::panelPrimaryText;
    qreal m_opacity = 1.0;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    qreal m_minimumScale = 1.0;
    bool m_wrap = false;
};
