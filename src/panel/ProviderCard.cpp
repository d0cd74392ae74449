#include "ProviderCard.h"

#include "Appearance.h"
#include "CardLabels.h"
#include "CodexResetControl.h"
#include "KeyedWidgetList.h"
#include "PanelAccessibility.h"
#include "PanelActionStyle.h"
#include "PanelPalette.h"
#include "PanelSymbols.h"
#include "ProgressSpinner.h"
#include "UsageObservationAge.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

using cardlabels::roleColour;

namespace {

QVBoxLayout* column(QWidget* widget, int spacing, QMargins margins = {})
{
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

QLabel* symbolText(PanelSymbol symbol, const QString& text, TextStyle style, PanelColor role, QWidget* parent,
                   int verticalPadding = 0)
{
    QLabel* label = cardlabels::withSymbol(symbol, text, style, role, parent, verticalPadding);
    label->setAccessibleName(text);
    return label;
}

// "Подробности" with the disclosure chevron; checked while open.
class DisclosureButton final : public QAbstractButton {
public:
    explicit DisclosureButton(QWidget* parent) : QAbstractButton(parent)
    {
        setCheckable(true);
        setText(cardtext::kDetails);
        setAccessibleName(cardtext::kDetails);
        setFont(fonts::style(TextStyle::caption));
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF m(font());
        return QSize(int(std::ceil(m.height() + 4 + m.horizontalAdvance(text()))), int(std::ceil(m.height())));
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QFontMetricsF m(font());
        const QColor colour = roleColour(PanelColor::panelSecondaryText, isDown() ? 0.7 : 1.0);
        const qreal side = m.height() * 0.7;
        const QRectF box((m.height() - side) / 2, (height() - side) / 2, side, side);
        panelsymbols::paint(p, isChecked() ? PanelSymbol::chevronDown : PanelSymbol::chevronRight, box, colour,
                            QFont::DemiBold);
        p.setFont(font());
        p.setPen(colour);
        p.drawText(QRectF(m.height() + 4, 0, width() - m.height() - 4, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   text());
    }
};

// One Antigravity section: title, subtitle and its rows on the inset surface.
class SectionBox final : public QWidget {
public:
    SectionBox(QWidget* parent, Scheduler* scheduler, int* rowsBuilt)
        : QWidget(parent), m_scheduler(scheduler), m_rowsBuilt(rowsBuilt)
    {
        auto* layout = column(this, 13, QMargins(12, 12, 12, 12));
        auto* heading = new QWidget(this);
        auto* headingLayout = column(heading, 3);
        m_title = cardlabels::text(TextStyle::subheadline, PanelColor::panelPrimaryText, heading, QFont::DemiBold);
        m_subtitle = cardlabels::text(TextStyle::caption2, PanelColor::panelSecondaryText, heading);
        headingLayout->addWidget(m_title);
        headingLayout->addWidget(m_subtitle);
        layout->addWidget(heading);
        m_rows = std::make_unique<KeyedWidgetList>(*layout, 1);
    }

    void apply(const ProviderCardModel::Section& section)
    {
        m_title->setText(section.title);
        m_subtitle->setVisible(section.subtitle.has_value());
        m_subtitle->setText(section.subtitle.value_or(QString()));
        setAccessibleName(section.title);
        QStringList keys;
        for (const UsageWindowRowModel& row : section.rows)
            keys << row.id;
        *m_rowsBuilt += m_rows->reconcile(
            keys, [this](int) { return new UsageWindowRowView(nullptr, m_scheduler); },
            [&section](QWidget* widget, int index) {
                static_cast<UsageWindowRowView*>(widget)->apply(section.rows.at(index));
            });
    }

    UsageWindowRowView* row(const QString& id) const { return static_cast<UsageWindowRowView*>(m_rows->widget(id)); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 12, 12);
        p.fillPath(shape, roleColour(PanelColor::cardInsetFill));
    }

private:
    Scheduler* m_scheduler;
    int* m_rowsBuilt;
    QLabel* m_title;
    QLabel* m_subtitle;
    std::unique_ptr<KeyedWidgetList> m_rows;
};

} // namespace

struct ProviderCard::Parts {
    QVBoxLayout* layout = nullptr;
    QWidget* waiting = nullptr;
    QWidget* loading = nullptr;
    QWidget* limits = nullptr;
    QLabel* caption = nullptr;
    QWidget* rowsBox = nullptr;
    std::unique_ptr<KeyedWidgetList> rows;
    QWidget* sectionsBox = nullptr;
    std::unique_ptr<KeyedWidgetList> sections;
    QLabel* note = nullptr;
    QWidget* unlimited = nullptr;
    QWidget* noData = nullptr;
    QWidget* error = nullptr;
    QLabel* errorHint = nullptr;
    DisclosureButton* disclosure = nullptr;
    PanelActionButton* refresh = nullptr;
    QLabel* source = nullptr;
    QWidget* updated = nullptr;
    UsageObservationAgeLabel* age = nullptr;
    ProgressSpinner* updatedSpinner = nullptr;
};

ProviderCard::ProviderCard(UsageAccounts* accounts, std::function<void()> retryAction, QWidget* parent,
                           Scheduler* scheduler)
    : QWidget(parent)
    , m_accounts(accounts)
    , m_retry(std::move(retryAction))
    , m_scheduler(scheduler)
    , m_parts(std::make_unique<Parts>())
{
    Parts& p = *m_parts;
    p.layout = column(this, kSpacing, QMargins(kPadding, kPadding, kPadding, kPadding));

    m_header = new ProviderHeaderView(this);
    p.layout->addWidget(m_header);

    p.waiting = symbolText(PanelSymbol::clock, cardtext::kWaiting, TextStyle::caption, PanelColor::panelSecondaryText, this);
    p.layout->addWidget(p.waiting);

    p.loading = new QWidget(this);
    {
        auto* row = new QHBoxLayout(p.loading);
        row->setContentsMargins(0, 8, 0, 8);
        row->setSpacing(10);
        auto* spinner = new ProgressSpinner(ProgressSpinner::Size::small, p.loading);
        panelaccess::hide(spinner);
        row->addWidget(spinner, 0, Qt::AlignVCenter);
        QLabel* text = cardlabels::text(TextStyle::callout, PanelColor::panelSecondaryText, p.loading);
        text->setText(cardtext::kLoading);
        text->setWordWrap(false);
        row->addWidget(text, 1, Qt::AlignVCenter);
        p.loading->setAccessibleName(cardtext::kLoading);
    }
    p.layout->addWidget(p.loading);

    p.limits = new QWidget(this);
    {
        auto* list = column(p.limits, 13);
        p.caption = cardlabels::text(TextStyle::caption2, PanelColor::panelSecondaryText, p.limits);
        p.caption->setText(cardtext::kClaudeCaption);
        list->addWidget(p.caption);
        p.rowsBox = new QWidget(p.limits);
        p.rows = std::make_unique<KeyedWidgetList>(*column(p.rowsBox, 13), 0);
        list->addWidget(p.rowsBox);
        p.sectionsBox = new QWidget(p.limits);
        p.sections = std::make_unique<KeyedWidgetList>(*column(p.sectionsBox, 13), 0);
        list->addWidget(p.sectionsBox);
        p.note = cardlabels::text(TextStyle::caption2, PanelColor::panelSecondaryText, p.limits);
        p.note->setText(cardtext::kAntigravityNote);
        list->addWidget(p.note);
    }
    p.layout->addWidget(p.limits);

    p.unlimited = symbolText(PanelSymbol::infinity, cardtext::kUnlimited, TextStyle::callout,
                             PanelColor::panelSecondaryText, this);
    p.layout->addWidget(p.unlimited);
    p.noData = symbolText(PanelSymbol::exclamationmarkCircle, cardtext::kNoData, TextStyle::callout,
                          PanelColor::panelSecondaryText, this, 4);
    p.layout->addWidget(p.noData);

    p.error = new QWidget(this);
    {
        auto* block = column(p.error, 8);
        block->addWidget(symbolText(PanelSymbol::exclamationmarkTriangle, cardtext::kErrorTitle, TextStyle::caption,
                                    PanelColor::panelWarning, p.error));
        p.errorHint = cardlabels::text(TextStyle::caption, PanelColor::panelSecondaryText, p.error);
        block->addWidget(p.errorHint);
        p.disclosure = new DisclosureButton(p.error);
        block->addWidget(p.disclosure, 0, Qt::AlignLeft);
        m_details = new DiagnosticDetails(p.error);
        m_details->hide();
        block->addWidget(m_details);
        connect(p.disclosure, &QAbstractButton::toggled, m_details, &QWidget::setVisible);
    }
    p.layout->addWidget(p.error);

    p.refresh = new PanelActionButton(cardtext::kRefresh, this);
    p.refresh->setFocusPolicy(Qt::NoFocus);
    p.refresh->setToolTip(cardtext::kRefreshTooltip);
    p.refresh->setSymbol([](QPainter& painter, const QRectF& box, const QColor& colour) {
        panelsymbols::paint(painter, PanelSymbol::arrowClockwise, box, colour, QFont::Medium);
    });
    connect(p.refresh, &QAbstractButton::clicked, this, [this] {
        if (m_retry && m_parts->refresh->isEnabled())
            m_retry();
    });
    p.layout->addWidget(p.refresh, 0, Qt::AlignLeft);

    p.source = cardlabels::text(TextStyle::caption2, PanelColor::panelSecondaryText, this);
    p.layout->addWidget(p.source);

    p.updated = new QWidget(this);
    {
        auto* row = new QHBoxLayout(p.updated);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        p.age = new UsageObservationAgeLabel(Timestamp(), cardtext::kUpdated, p.updated, scheduler);
        p.age->setFont(fonts::style(TextStyle::caption2));
        cardlabels::followTextRole(p.age, PanelColor::panelSecondaryText);
        row->addWidget(p.age, 0, Qt::AlignVCenter);
        p.updatedSpinner = new ProgressSpinner(ProgressSpinner::Size::mini, p.updated);
        panelaccess::hide(p.updatedSpinner);
        row->addWidget(p.updatedSpinner, 0, Qt::AlignVCenter);
        row->addStretch(1);
    }
    p.layout->addWidget(p.updated);

    for (QWidget* w : {p.waiting, p.loading, p.limits, p.unlimited, p.noData, p.error, static_cast<QWidget*>(p.refresh),
                       static_cast<QWidget*>(p.source), p.updated})
        w->hide();

    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

ProviderCard::~ProviderCard() = default;

bool ProviderCard::isDetailsExpanded() const
{
    return m_parts->disclosure->isChecked();
}

void ProviderCard::setDetailsExpanded(bool expanded)
{
    m_parts->disclosure->setChecked(expanded);
}

QWidget* ProviderCard::refreshButton() const
{
    return m_parts->refresh;
}

UsageWindowRowView* ProviderCard::row(const QString& windowID) const
{
    if (QWidget* w = m_parts->rows->widget(windowID))
        return static_cast<UsageWindowRowView*>(w);
    for (const QString& key : m_parts->sections->keys())
        if (auto* found = static_cast<SectionBox*>(m_parts->sections->widget(key))->row(windowID))
            return found;
    return nullptr;
}

int ProviderCard::heightForWidth(int width) const
{
    return layout()->totalHeightForWidth(width);
}

void ProviderCard::apply(const ProviderCardModel& model)
{
    if (m_applied && model == m_model)
        return;
    Parts& p = *m_parts;
    m_header->apply(model.header);
    applyContent(model);
    applyReset(model);

    p.error->setVisible(model.error.has_value());
    if (model.error) {
        p.errorHint->setText(model.error->hint);
        m_details->setText(model.error->details);
    }

    const bool refresh = model.refresh.has_value() && bool(m_retry);
    p.refresh->setVisible(refresh);
    if (refresh) {
        p.refresh->setText(model.refresh->title);
        p.refresh->setEnabled(model.refresh->enabled);
        p.refresh->updateGeometry();
    }

    p.source->setVisible(model.sourceNote.has_value());
    if (model.sourceNote) {
        p.source->setText(model.sourceNote->text);
        cardlabels::followTextRole(p.source, model.sourceNote->warning ? PanelColor::panelWarning : PanelColor::panelSecondaryText);
    }

    p.updated->setVisible(model.updated.has_value());
    if (model.updated) {
        p.age->setDate(model.updated->date);
        p.age->setPrefix(model.updated->prefix);
        p.updatedSpinner->setVisible(model.updated->spinner);
    }

    setAccessibleName(model.accessibleName);
    m_model = model;
    m_applied = true;
    updateGeometry();
}

void ProviderCard::applyContent(const ProviderCardModel& model)
{
    using Content = ProviderCardModel::Content;
    Parts& p = *m_parts;
    p.waiting->setVisible(model.content == Content::waiting);
    p.loading->setVisible(model.content == Content::loading);
    p.unlimited->setVisible(model.content == Content::unlimited);
    p.noData->setVisible(model.content == Content::noData);

    const bool limits = model.content == Content::limits;
    applyRows(limits ? model.rows : QList<UsageWindowRowModel> {});
    applySections(limits ? model.sections : QList<ProviderCardModel::Section> {});
    p.caption->setVisible(limits && model.claudeCaption);
    p.note->setVisible(limits && model.antigravityNote);
    p.rowsBox->setVisible(p.rows->count() > 0);
    p.sectionsBox->setVisible(p.sections->count() > 0);
    p.limits->setVisible(limits && (p.caption->isVisibleTo(p.limits) || p.note->isVisibleTo(p.limits)
                                    || p.rows->count() > 0 || p.sections->count() > 0));
}

void ProviderCard::applyRows(const QList<UsageWindowRowModel>& rows)
{
    QStringList keys;
    for (const UsageWindowRowModel& row : rows)
        keys << row.id;
    m_rowsBuilt += m_parts->rows->reconcile(
        keys, [this](int) { return new UsageWindowRowView(nullptr, m_scheduler); },
        [&rows](QWidget* widget, int index) { static_cast<UsageWindowRowView*>(widget)->apply(rows.at(index)); });
}

void ProviderCard::applySections(const QList<ProviderCardModel::Section>& sections)
{
    QStringList keys;
    for (const ProviderCardModel::Section& section : sections)
        keys << section.id;
    m_parts->sections->reconcile(
        keys, [this](int) { return new SectionBox(nullptr, m_scheduler, &m_rowsBuilt); },
        [&sections](QWidget* widget, int index) { static_cast<SectionBox*>(widget)->apply(sections.at(index)); });
}

void ProviderCard::applyReset(const ProviderCardModel& model)
{
    if (!model.resetProfile || !m_accounts) {
        if (m_reset) {
            delete m_reset;
            m_reset = nullptr;
        }
        return;
    }
    if (m_reset && m_reset->profile().id() != model.resetProfile->id()) {
        delete m_reset;
        m_reset = nullptr;
    }
    if (!m_reset) {
        m_reset = new CodexResetControl(*m_accounts, *model.resetProfile, false, this);
        m_parts->layout->insertWidget(m_parts->layout->indexOf(m_parts->error), m_reset);
    } else {
        m_reset->setProfile(*model.resetProfile);
    }
}

void ProviderCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, kCornerRadius, kCornerRadius);
    p.fillPath(shape, roleColour(PanelColor::cardBackground));
    p.strokePath(shape, QPen(roleColour(PanelColor::cardBorder), 1.0));
}
