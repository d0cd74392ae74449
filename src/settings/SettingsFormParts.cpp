#include "SettingsFormParts.h"

#include "panel/Appearance.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QIcon>
#include <QPixmap>
#include <QHBoxLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cmath>

namespace settingsform {

namespace {

const char* const kRoleProperty = "settingsTextRole";
const char* const kSymbolProperty = "settingsSymbol";

QColor rgb(QRgb value, qreal alpha = 1.0)
{
    QColor c = QColor::fromRgb(value);
    c.setAlphaF(float(alpha));
    return c;
}

constexpr int kSectionRadius = 7;
constexpr int kRowHorizontalInset = 12;
constexpr int kRowVerticalInset = 7;

void applyRole(QWidget* widget, TextRole role, bool dark)
{
    const QColor colour = adaptive(role).resolve(dark);
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    p.setColor(QPalette::ButtonText, colour);
    widget->setPalette(p);
}

void applySymbol(QAbstractButton* button, PanelSymbol symbol, bool dark)
{
    const qreal side = panelsymbols::side(button->font().pixelSize() > 0 ? button->font().pixelSize() : 13);
    const qreal scale = 2;
    const qreal gap = 3; // between the symbol and the button's text
    const QSize size(int(std::ceil(side + gap)), int(std::ceil(side)));
    QPixmap pixmap(size * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        panelsymbols::paint(painter, symbol, QRectF(0, 0, side, side), adaptive(FormColor::primaryText).resolve(dark));
    }
    button->setIcon(QIcon(pixmap));
    button->setIconSize(size);
}

} // namespace

AdaptiveColor adaptive(FormColor role)
{
    switch (role) {
    case FormColor::windowBackground: return {rgb(0xECECEC), rgb(0x1F1F1F)};
    case FormColor::sectionBackground: return {rgb(0xF7F7F7), rgb(0x2A2A2A)};
    case FormColor::sectionBorder: return {rgb(0x000000, 0.10), rgb(0xFFFFFF, 0.10)};
    case FormColor::separator: return {rgb(0x000000, 0.08), rgb(0xFFFFFF, 0.08)};
    case FormColor::primaryText: return {rgb(0x1D1D1F), rgb(0xE6E6E6)};
    case FormColor::secondaryText: return {rgb(0x7A7A7A), rgb(0x9A9A9A)};
    }
    return {};
}

AdaptiveColor adaptive(TextRole role)
{
    switch (role) {
    case TextRole::primary: return adaptive(FormColor::primaryText);
    case TextRole::secondary: return adaptive(FormColor::secondaryText);
    case TextRole::orange: return palette::systemOrange();
    case TextRole::link: return {rgb(0x007AFF), rgb(0x0A84FF)};
    }
    return {};
}

QPalette palette(bool dark)
{
    const QColor text = adaptive(FormColor::primaryText).resolve(dark);
    const QColor secondary = adaptive(FormColor::secondaryText).resolve(dark);
    const QColor window = adaptive(FormColor::windowBackground).resolve(dark);
    const QColor accent = adaptive(TextRole::link).resolve(dark);
    QPalette p;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Base, dark ? rgb(0x1C1C1E) : rgb(0xFFFFFF));
        p.setColor(group, QPalette::AlternateBase, adaptive(FormColor::sectionBackground).resolve(dark));
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::PlaceholderText, secondary);
        p.setColor(group, QPalette::Button, dark ? rgb(0x3A3A3C) : rgb(0xFFFFFF));
        p.setColor(group, QPalette::ButtonText, text);
        p.setColor(group, QPalette::Light, dark ? rgb(0x4A4A4C) : rgb(0xFFFFFF));
        p.setColor(group, QPalette::Midlight, dark ? rgb(0x404042) : rgb(0xF0F0F0));
        p.setColor(group, QPalette::Mid, dark ? rgb(0x2C2C2E) : rgb(0xC8C8C8));
        p.setColor(group, QPalette::Dark, dark ? rgb(0x1A1A1A) : rgb(0xA0A0A0));
        p.setColor(group, QPalette::Shadow, rgb(0x000000));
        p.setColor(group, QPalette::Highlight, accent);
        p.setColor(group, QPalette::HighlightedText, rgb(0xFFFFFF));
        p.setColor(group, QPalette::Link, accent);
        p.setColor(group, QPalette::LinkVisited, accent);
        p.setColor(group, QPalette::ToolTipBase, window);
        p.setColor(group, QPalette::ToolTipText, text);
    }
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::WindowText, secondary);
    p.setColor(QPalette::Disabled, QPalette::Text, secondary);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, secondary);
    p.setColor(QPalette::Disabled, QPalette::Button, dark ? rgb(0x2C2C2E) : rgb(0xF2F2F2));
    p.setColor(QPalette::Disabled, QPalette::Base, dark ? rgb(0x1C1C1E) : rgb(0xF7F7F7));
    return p;
}

void setTextRole(QWidget* widget, TextRole role)
{
    widget->setProperty(kRoleProperty, int(role));
    applyRole(widget, role, Appearance::shared().isDark());
}

void setSymbol(QAbstractButton* button, PanelSymbol symbol)
{
    button->setProperty(kSymbolProperty, int(symbol));
    applySymbol(button, symbol, Appearance::shared().isDark());
}

void applyAppearance(QWidget* root, bool dark)
{
    root->setPalette(palette(dark));
    const auto widgets = root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        const QVariant role = widget->property(kRoleProperty);
        if (role.isValid())
            applyRole(widget, TextRole(role.toInt()), dark);
        const QVariant symbol = widget->property(kSymbolProperty);
        if (auto* button = qobject_cast<QAbstractButton*>(widget); button && symbol.isValid())
            applySymbol(button, PanelSymbol(symbol.toInt()), dark);
    }
    root->update();
}

QLabel* label(const QString& text, const QFont& font, TextRole role, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setWordWrap(true);
    setTextRole(l, role);
    return l;
}

SectionBox::SectionBox(QWidget* parent)
    : QFrame(parent)
    , m_rows(new QVBoxLayout(this))
{
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
}

void SectionBox::addRow(QWidget* row)
{
    m_rows->addWidget(row);
}

void SectionBox::paintEvent(QPaintEvent*)
{
    const bool dark = Appearance::shared().isDark();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(adaptive(FormColor::sectionBorder).resolve(dark), 1));
    painter.setBrush(adaptive(FormColor::sectionBackground).resolve(dark));
    painter.drawRoundedRect(box, kSectionRadius, kSectionRadius);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(adaptive(FormColor::separator).resolve(dark), 1));
    bool first = true;
    for (int i = 0; i < m_rows->count(); ++i) {
        QWidget* row = m_rows->itemAt(i)->widget();
        if (!row || row->isHidden())
            continue;
        if (!first)
            painter.drawLine(kRowHorizontalInset, row->y(), width() - kRowHorizontalInset, row->y());
        first = false;
    }
}

FormSection::FormSection(const QString& header, QWidget* parent)
    : QWidget(parent)
    , m_box(new SectionBox(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        m_header = label(header, fonts::style(TextStyle::headline), TextRole::primary, this);
        m_header->setContentsMargins(kRowHorizontalInset / 2, 0, 0, 0);
        layout->addWidget(m_header);
    }
    layout->addWidget(m_box);
}

QWidget* labelledRow(const QString& text, QWidget* control, QWidget* parent)
{
    auto* holder = new QWidget(parent);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(kRowHorizontalInset, kRowVerticalInset, kRowHorizontalInset, kRowVerticalInset);
    layout->setSpacing(12);
    QLabel* l = label(text, fonts::style(TextStyle::body), TextRole::primary, holder);
    l->setWordWrap(false);
    l->setBuddy(control);
    layout->addWidget(l);
    layout->addStretch(1);
    layout->addWidget(control);
    return holder;
}

QWidget* row(QWidget* content, QWidget* parent)
{
    auto* holder = new QWidget(parent);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(kRowHorizontalInset, kRowVerticalInset, kRowHorizontalInset, kRowVerticalInset);
    layout->addWidget(content);
    return holder;
}

SelectableText::SelectableText(const QFont& font, TextRole role, QWidget* parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFocusPolicy(Qt::ClickFocus);
    setFont(font);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    QPalette transparent = palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    setPalette(transparent);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setTextRole(this, role);
}

void SelectableText::setContent(const QString& text)
{
    if (toPlainText() == text)
        return;
    setPlainText(text);
    setAccessibleName(text);
    updateGeometry();
}

int SelectableText::heightForWidth(int width) const
{
    std::unique_ptr<QTextDocument> doc(document()->clone());
    doc->setDefaultFont(font());
    doc->setTextWidth(std::max(1, width - 2 * frameWidth()));
    return int(std::ceil(doc->size().height())) + 2 * frameWidth();
}

QSize SelectableText::sizeHint() const
{
    std::unique_ptr<QTextDocument> doc(document()->clone());
    doc->setDefaultFont(font());
    const int ideal = int(std::ceil(doc->idealWidth())) + 2 * frameWidth();
    const int w = width() > 0 ? width() : ideal;
    return {ideal, heightForWidth(w)};
}

QSize SelectableText::minimumSizeHint() const
{
    return {20, heightForWidth(std::max(width(), 20))};
}

void SelectableText::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        updateGeometry();
}

} // namespace settingsform
