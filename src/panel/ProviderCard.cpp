#include "ProviderCard.h"

#include "Appearance.h"
#include "CardLabels.h"
#include "CodexResetControl.h"
#include "KeyedWidgetList.h"
#include "Motion.h"
#include "PanelAccessibility.h"
#include "PanelActionStyle.h"
#include "PanelPalette.h"
#include "PanelScrollArea.h"
#include "PanelSymbolView.h"
#include "PanelSymbols.h"
#include "ProgressSpinner.h"
#include "ProviderUsageBadge.h"
#include "RelativeTime.h"
#include "UsageObservationAge.h"
#include "UsageProgressBar.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>

#include <cmath>

namespace {

QColor roleColour(PanelColor role, qreal opacity = 1.0)
{
    QColor c = palette::color(role, Appearance::shared().isDark());
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

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

// MARK: numeric text

NumericTextMotion::NumericTextMotion(QObject* parent) : QObject(parent)
{
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, &NumericTextMotion::changed);
    connect(&m_animation, &QVariantAnimation::finished, this, [this] {
        m_previous.clear();
        emit changed();
    });
}

void NumericTextMotion::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_previous = m_text;
    m_text = text;
    m_animation.stop();
    motion::configureSpring(m_animation, motion::kGaugeResponse);
    if (m_previous.isEmpty() || text.isEmpty() || m_animation.duration() == 0) {
        m_previous.clear();
        emit changed();
        return;
    }
    m_animation.start();
}

double NumericTextMotion::progress() const
{
    if (m_animation.state() != QAbstractAnimation::Running)
        return 1.0;
    return m_animation.currentValue().toDouble();
}

void NumericTextMotion::paint(QPainter& painter, const QRectF& rect, int flags) const
{
    const double t = progress();
    painter.save();
    painter.setClipRect(rect);
    const QColor pen = painter.pen().color();
    if (t < 1.0 && !m_previous.isEmpty()) {
        // The old figure leaves upwards while the new one comes in from below.
        QColor old = pen;
        old.setAlphaF(float(pen.alphaF() * (1.0 - t)));
        painter.setPen(old);
        painter.drawText(rect.translated(0, -t * rect.height()), flags, m_previous);
        QColor now = pen;
        now.setAlphaF(float(pen.alphaF() * t));
        painter.setPen(now);
        painter.drawText(rect.translated(0, (1.0 - t) * rect.height()), flags, m_text);
    } else {
        painter.drawText(rect, flags, m_text);
    }
    painter.restore();
}

// MARK: header

struct ProviderHeaderView::Lines {
    QFont name = fonts::style(TextStyle::headline);
    QFont profile = fonts::style(TextStyle::caption, QFont::DemiBold);
    QFont maker = fonts::style(TextStyle::caption);
    QFont peak = fonts::style(TextStyle::title3, QFont::DemiBold);
    qreal textLeft = 0;
    qreal textWidth = 0;
    qreal nameHeight = 0;
    qreal profileHeight = 0;
    qreal makerHeight = 0;
    qreal columnHeight = 0;
    qreal peakWidth = 0;
    qreal height = 0;
};

ProviderHeaderView::ProviderHeaderView(QWidget* parent)
    : QWidget(parent)
    , m_badge(new ProviderUsageBadge(this))
    , m_peak(new NumericTextMotion(this))
{
    connect(m_peak, &NumericTextMotion::changed, this, qOverload<>(&QWidget::update));
    // One element: the badge's rings are read out as the header's value.
    panelaccess::hide(m_badge);
    panelaccess::setValue(this, QString());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

qreal ProviderHeaderView::badgeSide() const
{
    return m_badge->sizeHint().width();
}

ProviderHeaderView::Lines ProviderHeaderView::lines(int width) const
{
    Lines l;
    const qreal side = badgeSide();
    l.textLeft = side + kSpacing;
    if (!m_model.peakText.isEmpty())
        l.peakWidth = std::ceil(QFontMetricsF(l.peak).horizontalAdvance(m_model.peakText));
    l.textWidth = std::max<qreal>(1, width - l.textLeft - kMinimumGap - l.peakWidth);
    l.nameHeight = QFontMetricsF(l.name).height();
    l.makerHeight = QFontMetricsF(l.maker).height();
    if (m_model.profileName) {
        const QFontMetricsF m(l.profile);
        l.profileHeight = m.boundingRect(QRectF(0, 0, l.textWidth, 1e6), Qt::TextWordWrap, *m_model.profileName).height();
    }
    l.columnHeight = l.nameHeight + kLineSpacing + l.makerHeight + (m_model.profileName ? l.profileHeight + kLineSpacing : 0);
    l.height = std::ceil(std::max(side, l.columnHeight));
    return l;
}

void ProviderHeaderView::apply(const ProviderHeaderModel& model)
{
    if (m_applied && model == m_model)
        return;
    const bool sizeChanged = !m_applied || model.profileName != m_model.profileName || model.peakText.size() != m_model.peakText.size()
        || model.usage.windows.size() != m_model.usage.windows.size() || model.usage.provider != m_model.usage.provider;
    m_applied = true;
    m_model = model;
    m_badge->setUsage(model.usage);
    m_peak->setText(model.peakText);
    setAccessibleName(model.accessibleName);
    panelaccess::setValue(this, m_badge->currentLayout().summary);
    if (sizeChanged)
        updateGeometry();
    resizeEvent(nullptr);
    update();
}

QRectF ProviderHeaderView::peakRect(int width) const
{
    const Lines l = lines(width);
    if (l.peakWidth <= 0)
        return {};
    const qreal h = QFontMetricsF(l.peak).height();
    return QRectF(width - l.peakWidth, (l.height - h) / 2, l.peakWidth, h);
}

int ProviderHeaderView::heightForWidth(int width) const
{
    return int(lines(width).height);
}

QSize ProviderHeaderView::sizeHint() const
{
    return {272, heightForWidth(272)};
}

QSize ProviderHeaderView::minimumSizeHint() const
{
    return {int(badgeSide() + kSpacing + kMinimumGap) + 40, int(badgeSide())};
}

void ProviderHeaderView::resizeEvent(QResizeEvent*)
{
    const qreal side = badgeSide();
    m_badge->setGeometry(0, int(std::lround((height() - side) / 2)), int(side), int(side));
}

bool ProviderHeaderView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (peakRect(width()).contains(help->pos())) {
            QToolTip::showText(help->globalPos(), cardtext::kPeakTooltip, this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

void ProviderHeaderView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Lines l = lines(width());
    qreal y = (l.height - l.columnHeight) / 2;
    const QRectF nameRect(l.textLeft, y, l.textWidth, l.nameHeight);
    p.setFont(l.name);
    p.setPen(roleColour(PanelColor::panelPrimaryText));
    p.drawText(nameRect, Qt::AlignLeft | Qt::AlignTop,
               QFontMetricsF(l.name).elidedText(m_model.providerName, Qt::ElideRight, l.textWidth));
    y += l.nameHeight + kLineSpacing;
    if (m_model.profileName) {
        p.setFont(l.profile);
        p.setPen(roleColour(PanelColor::panelSecondaryText));
        p.drawText(QRectF(l.textLeft, y, l.textWidth, l.profileHeight), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                   *m_model.profileName);
        y += l.profileHeight + kLineSpacing;
    }
    p.setFont(l.maker);
    p.setPen(roleColour(PanelColor::panelSecondaryText));
    p.drawText(QRectF(l.textLeft, y, l.textWidth, l.makerHeight), Qt::AlignLeft | Qt::AlignTop,
               QFontMetricsF(l.maker).elidedText(m_model.makerLine, Qt::ElideRight, l.textWidth));

    const QRectF peak = peakRect(width());
    if (!peak.isEmpty()) {
        p.setFont(l.peak);
        p.setPen(roleColour(PanelColor::panelPrimaryText));
        m_peak->paint(p, peak.adjusted(-1, 0, 1, 0), Qt::AlignRight | Qt::AlignVCenter);
    }
}

// MARK: limit window row

class UsageWindowRowView::TitleLine final : public QWidget {
public:
    TitleLine(UsageWindowRowView* row) : QWidget(row), m_row(row)
    {
        panelaccess::hide(this);
        setFixedHeight(int(std::ceil(QFontMetricsF(titleFont()).height())));
    }
    static QFont titleFont() { return fonts::style(TextStyle::caption, QFont::Medium); }
    static QFont percentFont() { return fonts::style(TextStyle::caption, QFont::DemiBold); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        const UsageWindowRowModel& m = m_row->model();
        const QFontMetricsF pm(percentFont());
        const qreal percentWidth = std::ceil(pm.horizontalAdvance(m.percentText));
        const qreal titleWidth = std::max<qreal>(0, width() - percentWidth - (percentWidth > 0 ? 8 : 0));
        p.setFont(titleFont());
        p.setPen(roleColour(PanelColor::panelPrimaryText, 0.92));
        p.drawText(QRectF(0, 0, titleWidth, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(titleFont()).elidedText(m.title, Qt::ElideRight, titleWidth));
        if (percentWidth > 0) {
            p.setFont(percentFont());
            p.setPen(m.accent.resolve(Appearance::shared().isDark()));
            m_row->percentMotion().paint(p, QRectF(width() - percentWidth - 1, 0, percentWidth + 1, height()),
                                         Qt::AlignRight | Qt::AlignVCenter);
        }
    }

private:
    UsageWindowRowView* m_row;
};

UsageWindowRowView::UsageWindowRowView(QWidget* parent, Scheduler* scheduler)
    : QWidget(parent)
    , m_percent(new NumericTextMotion(this))
{
    panelaccess::setValue(this, QString());
    auto* layout = column(this, int(kSpacing));
    m_title = new TitleLine(this);
    layout->addWidget(m_title);
    m_bar = new UsageProgressBar(this);
    layout->addWidget(m_bar);
    m_reset = new LiveTimeLabel(this, scheduler);
    m_reset->setFont(fonts::style(TextStyle::caption2));
    m_reset->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cardlabels::followTextRole(m_reset, PanelColor::panelSecondaryText);
    panelaccess::hide(m_reset);
    layout->addWidget(m_reset);
    m_reset->hide();
    connect(m_percent, &NumericTextMotion::changed, m_title, qOverload<>(&QWidget::update));
}

void UsageWindowRowView::apply(const UsageWindowRowModel& model)
{
    if (m_applied && model == m_model)
        return;
    const bool resetChanged = !m_applied || model.resetsAt != m_model.resetsAt;
    m_applied = true;
    m_model = model;
    m_percent->setText(model.percentText);
    m_bar->setAccent(model.accent);
    m_bar->setProgress(model.progress);
    if (resetChanged) {
        if (model.resetsAt) {
            const Timestamp target = *model.resetsAt;
            m_reset->setWording(
                [target](Timestamp now) {
                    return cardtext::kAutoReset + QLatin1Char(' ') + relativetime::countdownText(target, now);
                },
                [target](Timestamp now) { return relativetime::nextCountdownChange(target, now); });
        } else {
            m_reset->setWording({}, {});
            m_reset->clear();
        }
    }
    m_reset->setVisible(model.resetsAt.has_value());
    setAccessibleName(model.accessibleName);
    panelaccess::setValue(this, model.accessibleValue);
    m_title->update();
}

// MARK: diagnostic details

DiagnosticDetails::DiagnosticDetails(QWidget* parent)
    : QScrollArea(parent)
    , m_label(cardlabels::text(TextStyle::caption, PanelColor::panelSecondaryText))
{
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_label->setCursor(Qt::IBeamCursor);
    // No scroll bar takes width from the text, so its height at a width is the one it gets.
    stylePanelScrollArea(this);
    setWidget(m_label);
    m_label->setAutoFillBackground(false); // the card shows through
    setAutoFillBackground(false);
    m_indicator = new PanelScrollIndicator(this);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QRect DiagnosticDetails::indicatorRect() const
{
    return m_indicator->thumb();
}

void DiagnosticDetails::setText(const QString& text)
{
    if (text == m_label->text())
        return;
    m_label->setText(text);
    updateGeometry();
}

QString DiagnosticDetails::text() const
{
    return m_label->text();
}

int DiagnosticDetails::heightForWidth(int width) const
{
    const int content = m_label->heightForWidth(std::max(1, width));
    if (content <= kMaximumHeight)
        return std::max(content, 0);
    return kMaximumHeight;
}

QSize DiagnosticDetails::sizeHint() const
{
    const int w = width() > 0 ? width() : 236;
    return {w, heightForWidth(w)};
}

QSize DiagnosticDetails::minimumSizeHint() const
{
    return {40, std::min(kMaximumHeight, heightForWidth(width() > 0 ? width() : 236))};
}

void DiagnosticDetails::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    const int wanted = heightForWidth(width());
    if (wanted != height())
        updateGeometry();
}

// MARK: card

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
