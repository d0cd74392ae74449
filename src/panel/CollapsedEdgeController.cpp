#include "CollapsedEdgeController.h"

#include "AccountsObserver.h"
#include "CodexResetControl.h"
#include "EdgeRowLayout.h"
#include "Motion.h"
#include "NumericTextMotion.h"
#include "PanelAccessibility.h"
#include "PanelLabel.h"
#include "PanelLayerEffect.h"
#include "PanelOutlineShape.h"
#include "PanelPalette.h"
#include "PanelScrollArea.h"
#include "PanelSymbols.h"
#include "PressFeedback.h"
#include "ProviderLimitRing.h"
#include "ProviderUsageBadge.h"
#include "RelativeTime.h"
#include "UsageFormat.h"
#include "accounts/UsageAccounts.h"
#include "platform/Scheduler.h"

#include <QBoxLayout>
#include <QEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>

namespace compactindicator {

QString valueText(const ProviderUsage& usage, Timestamp date, const QTimeZone& zone, const QLocale& locale)
{
    if (const std::optional<Timestamp> reset = ProviderLimitRing::earliestExhaustedReset(usage); reset && *reset > date)
        return relativetime::resetTimeText(*reset, date, zone, locale);
    if (const std::optional<double> peak = usage.peakUsedPercent()) {
        // A peak without a whole figure (not finite, out of range) reads as no figure.
        const QString text = usageformat::percentText(*peak);
        return text.isEmpty() ? QStringLiteral("—") : text;
    }
    if (usage.isLoading)
        return QStringLiteral("…");
    if (usage.errorMessage)
        return QStringLiteral("!");
    if (usage.unlimitedCategories && !usage.unlimitedCategories->isEmpty())
        return QStringLiteral("∞");
    return QStringLiteral("—");
}

Timestamp minuteOf(Timestamp now)
{
    const double epoch = now.since1970();
    return Timestamp::fromSince1970(std::floor(epoch / 60.0) * 60.0);
}

} // namespace compactindicator

CompactRowModel CompactRowModel::of(const ProviderProfile& profile, const ProviderUsage& usage, Timestamp minute,
                                    const QTimeZone& zone, const QLocale& locale)
{
    CompactRowModel m;
    m.profileID = profile.id();
    m.provider = usage.provider;
    m.profileName = profile.name;
    m.valueText = compactindicator::valueText(usage, minute, zone, locale);
    m.valueWarning = usage.errorMessage.has_value() || usage.isStale == true;
    m.spacing = (usage.provider != UsageProvider::claude && usage.windows.size() < 2) ? 7 : 4;
    const QString word = usageformat::shortName(usage.provider);
    const QString summary = ProviderLimitRing::accessibilitySummary(usage);
    m.toolTip = word + QStringLiteral(" · ") + profile.name + QLatin1Char('\n') + summary;
    m.accessibleName = word + QStringLiteral(", ") + profile.name;
    m.accessibleValue = summary.isEmpty() ? m.valueText : summary;
    m.hasResetControl = profile.provider == UsageProvider::codex;
    const std::optional<Timestamp> reset = ProviderLimitRing::earliestExhaustedReset(usage);
    m.dependsOnTime = reset && *reset > minute;
    return m;
}

namespace {

// The row's value text: one line shrinking to half its size, changing with
// the figure's roll (new digits come in from below).
class CompactValueLabel final : public PanelLabel {
public:
    explicit CompactValueLabel(QWidget* parent)
        : PanelLabel(QString(), fonts::system(13, QFont::DemiBold), PanelColor::panelForeground, parent),
          m_motion(new NumericTextMotion(this))
    {
        connect(m_motion, &NumericTextMotion::changed, this, qOverload<>(&QWidget::update));
    }

    void showValue(const QString& text)
    {
        setText(text);
        m_motion->setText(text);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(fittedFont(width()));
        painter.setPen(textColor());
        m_motion->paint(painter, QRectF(rect()), Qt::AlignCenter | Qt::TextSingleLine);
    }

private:
    NumericTextMotion* m_motion;
};

} // namespace

// EdgePanelButton

EdgePanelButton::EdgePanelButton(QWidget* parent)
    : QAbstractButton(parent), m_press(new PressFeedback(this, kResponse))
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    connect(m_press, &PressFeedback::changed, this, &EdgePanelButton::pressChanged);
}

PanelLayerEffect* EdgePanelButton::pressLayer() const
{
    return qobject_cast<PanelLayerEffect*>(graphicsEffect());
}

bool EdgePanelButton::hitButton(const QPoint& pos) const
{
    if (!rect().contains(pos))
        return false;
    return !m_inside || m_inside(mapToGlobal(pos));
}

void EdgePanelButton::paintEvent(QPaintEvent*)
{
    // The label is made of child widgets; the button itself draws nothing.
}

void EdgePanelButton::pressChanged(qreal amount)
{
    if (amount <= 0) {
        setGraphicsEffect(nullptr);
        return;
    }
    PanelLayerEffect* layer = pressLayer();
    if (!layer) {
        layer = new PanelLayerEffect;
        setGraphicsEffect(layer);
    }
    layer->setScale(1.0 - (1.0 - kPressedScale) * amount, QRectF(rect()).center());
    layer->setBrightness(kPressedBrightness * amount);
}

// CompactAccountRow

CompactAccountRow::CompactAccountRow(UsageAccounts& accounts, const ProviderProfile& profile,
                                     std::function<void()> action, QWidget* parent)
    : QWidget(parent), m_accounts(accounts), m_profile(profile)
{
    setFixedHeight(int(edgerows::kRowHeight));
    m_button = new EdgePanelButton(this);
    m_button->setObjectName(QStringLiteral("account.") + profile.id());
    connect(m_button, &QAbstractButton::clicked, this, [action] {
        if (action)
            action();
    });

    m_indicator = new QWidget(m_button);
    m_indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_stack = new QVBoxLayout(m_indicator);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setAlignment(Qt::AlignCenter);
    m_badge = new ProviderUsageBadge(m_indicator);
    m_value = new CompactValueLabel(m_indicator);
    m_name = new PanelLabel(QString(), fonts::system(9, QFont::Medium), PanelColor::panelSecondaryText, m_indicator);
    for (PanelLabel* label : {m_value, m_name}) {
        label->setFixedWidth(60);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumScale(0.5);
    }
    for (QWidget* part : {static_cast<QWidget*>(m_badge), static_cast<QWidget*>(m_value),
                          static_cast<QWidget*>(m_name)})
        panelaccess::hide(part);
    m_stack->addWidget(m_badge, 0, Qt::AlignHCenter);
    m_stack->addWidget(m_value, 0, Qt::AlignHCenter);
    m_stack->addWidget(m_name, 0, Qt::AlignHCenter);

    if (profile.provider == UsageProvider::codex) {
        auto* reset = new CodexResetControl(accounts, profile, true, this);
        m_reset = reset;
        m_badge->installEventFilter(this); // follows the badge's centre
    }
}

bool CompactAccountRow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_badge && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeResetControl();
    return QWidget::eventFilter(watched, event);
}

CompactAccountRow::~CompactAccountRow() { disarm(); }

void CompactAccountRow::apply(const ProviderProfile& profile, const ProviderUsage& usage)
{
    m_profile = profile;
    if (auto* reset = qobject_cast<CodexResetControl*>(m_reset))
        reset->setProfile(profile);
    m_usage = usage;
    render();
    if (isVisible()) {
        disarm();
        arm();
    }
}

void CompactAccountRow::render()
{
    const Timestamp minute = compactindicator::minuteOf(m_accounts.scheduler().clock().now());
    const CompactRowModel model = CompactRowModel::of(m_profile, m_usage, minute);
    m_badge->setUsage(m_usage);
    if (model == m_model && m_model.profileID == model.profileID && !m_model.profileID.isEmpty())
        return;
    m_model = model;
    static_cast<CompactValueLabel*>(m_value)->showValue(model.valueText);
    m_value->setRole(model.valueWarning ? PanelColor::panelWarning : PanelColor::panelForeground);
    m_name->setText(model.profileName);
    m_stack->setSpacing(model.spacing);
    m_button->setToolTip(model.toolTip);
    m_button->setAccessibleName(model.accessibleName);
    panelaccess::setValue(m_button, model.accessibleValue);
}

void CompactAccountRow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    render(); // time went on while hidden
    disarm();
    arm();
}

void CompactAccountRow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    disarm();
}

void CompactAccountRow::arm()
{
    if (!m_model.dependsOnTime)
        return;
    Scheduler& scheduler = m_accounts.scheduler();
    const Timestamp now = scheduler.clock().now();
    const Timestamp next = compactindicator::minuteOf(now).adding(60);
    m_tick = scheduler.schedule(std::max(0.0, next.secondsSince(now)), [this] {
        m_tick = 0;
        render();
        arm();
    });
}

void CompactAccountRow::disarm()
{
    if (m_tick)
        m_accounts.scheduler().cancel(m_tick);
    m_tick = 0;
}

void CompactAccountRow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_button->setGeometry(rect());
    m_indicator->setGeometry(m_button->rect());
    placeResetControl();
}

void CompactAccountRow::placeResetControl()
{
    if (!m_reset)
        return;
    const QPointF centre = QRectF(m_badge->mapTo(this, QPoint()), QSizeF(m_badge->size())).center();
    const QSizeF size = m_reset->sizeHint();
    m_reset->setGeometry(QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size).toRect());
    m_reset->raise();
}

// CollapsedEdgeController

namespace {

// A symbol on its own as a plain button.
class SymbolButton final : public QAbstractButton {
public:
    SymbolButton(PanelSymbol symbol, qreal points, QWidget* parent)
        : QAbstractButton(parent), m_symbol(symbol), m_points(points)
    {
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal side = panelsymbols::side(m_points);
        const QRectF box(QRectF(rect()).center() - QPointF(side / 2, side / 2), QSizeF(side, side));
        panelsymbols::paint(p, m_symbol, box, palette::color(PanelColor::panelPrimaryText));
    }

private:
    PanelSymbol m_symbol;
    qreal m_points;
};

// The chevron's glyph inside its EdgePanelButton.
class ChevronGlyph final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ink = palette::color(PanelColor::panelForeground);
        ink.setAlphaF(float(ink.alphaF() * 0.66));
        const qreal side = panelsymbols::side(13);
        const QRectF box(QRectF(rect()).center() - QPointF(side / 2, side / 2), QSizeF(side, side));
        panelsymbols::paint(p, PanelSymbol::chevronLeft, box, ink, QFont::Bold);
    }
};

} // namespace

CollapsedEdgeController::CollapsedEdgeController(UsageAccounts& accounts, std::function<void()> action,
                                                 QWidget* parent)
    : QWidget(parent), m_accounts(accounts), m_action(std::move(action))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setToolTip(QStringLiteral("Прокрутите, чтобы увидеть остальные аккаунты. Нажмите для подробностей."));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, int(edgerows::kTopInset), 0, int(edgerows::kBottomInset));
    column->setSpacing(int(edgerows::kChevronSpacing));

    m_scroll = makePanelScrollArea(this);
    auto* content = new QWidget;
    content->setAttribute(Qt::WA_TranslucentBackground);
    m_list = new QVBoxLayout(content);
    m_list->setContentsMargins(0, 0, 0, 0);
    m_list->setSpacing(int(edgerows::kRowSpacing));
    m_list->addStretch(); // centred when the rows need less than the viewport
    m_rows = std::make_unique<KeyedWidgetList>(*m_list, 1);

    auto* empty = new SymbolButton(PanelSymbol::personCropCircleBadgePlus, fonts::pointSize(TextStyle::title2), content);
    empty->setFixedSize(44, 44);
    empty->setAccessibleName(QStringLiteral("Выбрать аккаунты в настройках"));
    connect(empty, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
    m_empty = empty;
    m_list->addWidget(empty, 0, Qt::AlignHCenter);
    m_list->addStretch();
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turns it on
    column->addWidget(m_scroll, 1);

    m_chevron = new EdgePanelButton(this);
    m_chevron->setFixedSize(44, int(edgerows::kChevronHeight));
    m_chevron->setAccessibleName(QStringLiteral("Открыть Vantorel"));
    m_chevron->setHitArea([this](const QPoint& global) { return insideOutline(global); });
    auto* glyph = new ChevronGlyph(m_chevron);
    glyph->setAttribute(Qt::WA_TransparentForMouseEvents);
    glyph->setGeometry(m_chevron->rect());
    connect(m_chevron, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
    column->addWidget(m_chevron, 0, Qt::AlignHCenter);

    m_observer = new AccountsObserver(accounts, [this] {
        // A hidden column catches up when it is shown again.
        m_stale = !isVisible();
        if (!m_stale)
            apply();
    }, this);
    apply();
}

CollapsedEdgeController::~CollapsedEdgeController() = default;

bool CollapsedEdgeController::scrolls(double availableHeight, int profiles)
{
    return availableHeight < edgerows::neededHeight(profiles);
}

QPainterPath CollapsedEdgeController::outline() const
{
    return PanelOutlineShape(PanelOutlineShape::kPanelRatio).path(QRectF(rect()));
}

bool CollapsedEdgeController::insideOutline(const QPoint& global) const
{
    return outline().contains(QPointF(mapFromGlobal(global)));
}

CompactAccountRow* CollapsedEdgeController::row(const QString& profileID) const
{
    return static_cast<CompactAccountRow*>(m_rows->widget(profileID));
}

void CollapsedEdgeController::apply()
{
    const QList<ProviderProfile> profiles = m_accounts.visibleProfilesByProvider();
    QStringList ids;
    for (const ProviderProfile& profile : profiles)
        ids << profile.id();
    m_rowsBuilt += m_rows->reconcile(
        ids,
        [&](int index) {
            auto* row = new CompactAccountRow(m_accounts, profiles.at(index), m_action);
            row->button()->setHitArea([this](const QPoint& global) { return insideOutline(global); });
            return row;
        },
        [&](QWidget* widget, int index) {
            static_cast<CompactAccountRow*>(widget)->apply(profiles.at(index), m_accounts.usage(profiles.at(index)));
        });
    m_empty->setVisible(m_accounts.visibleProfiles().isEmpty());
    m_profiles = int(profiles.size());
    updateScrolling();
}

void CollapsedEdgeController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_observer->flush();
    if (m_stale) {
        m_stale = false;
        apply();
    }
}

void CollapsedEdgeController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateScrolling();
}

void CollapsedEdgeController::updateScrolling()
{
    // Rows that fit stay put: no wheel scrolling then; the top shows first.
    const bool scrolling = scrolls(height(), m_profiles);
    m_scroll->verticalScrollBar()->setEnabled(scrolling);
    if (!scrolling)
        m_scroll->verticalScrollBar()->setValue(0);
}
