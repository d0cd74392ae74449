#pragma once

#include "panel/PanelPalette.h"
#include "panel/PanelSymbols.h"

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QTextEdit>

class QAbstractButton;
class QVBoxLayout;

// Building blocks of the settings form: its colours, grouped sections and
// text that wraps anywhere and can be selected.
namespace settingsform {

// The colour a piece of text of the form takes.
enum class TextRole { primary, secondary, orange, link };

// Colours of the form, light and dark.
enum class FormColor { windowBackground, sectionBackground, sectionBorder, separator, primaryText, secondaryText };
AdaptiveColor adaptive(FormColor role);
AdaptiveColor adaptive(TextRole role);

// The palette of the form's own widgets (fields, pickers, buttons) for one appearance.
QPalette palette(bool dark);

// Gives `widget` the text colour of `role`, now and at every appearance change
// of the window that applies roles (applyAppearance).
void setTextRole(QWidget* widget, TextRole role);
// Gives `button` the symbol drawn in its text colour, now and at every appearance change.
void setSymbol(QAbstractButton* button, PanelSymbol symbol);
// Sets the form palette on `root`, and the text colour and symbol of every widget under it that has them.
void applyAppearance(QWidget* root, bool dark);

// A plain label in `font`, colour `role`, wrapping at word boundaries.
QLabel* label(const QString& text, const QFont& font, TextRole role, QWidget* parent = nullptr);

// The rounded box of one form section; paints a separator above each shown
// row after the first.
class SectionBox final : public QFrame {
    Q_OBJECT
public:
    explicit SectionBox(QWidget* parent = nullptr);
    QVBoxLayout* rows() const { return m_rows; }
    // Appends a row.
    void addRow(QWidget* row);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_rows;
};

// A form section: an optional header above its box.
class FormSection final : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString& header, QWidget* parent = nullptr);
    QLabel* header() const { return m_header; }
    SectionBox* box() const { return m_box; }
    void addRow(QWidget* row) { m_box->addRow(row); }

private:
    QLabel* m_header = nullptr;
    SectionBox* m_box;
};

// One row of a section: `label` on the left, `control` on the right.
QWidget* labelledRow(const QString& label, QWidget* control, QWidget* parent = nullptr);
// One row of a section holding `content` with the row insets.
QWidget* row(QWidget* content, QWidget* parent = nullptr);

// Read-only text the user can select and copy, wrapping at word boundaries
// or anywhere inside a word (paths), never cut: it grows to the lines it needs.
class SelectableText final : public QTextEdit {
    Q_OBJECT
public:
    explicit SelectableText(const QFont& font, TextRole role, QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }
    // Replaces the text only when it differs, so a selection survives a refresh.
    void setContent(const QString& text);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace settingsform
