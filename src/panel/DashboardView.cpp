#include "DashboardView.h"

#include "AccountsObserver.h"
#include "CardLabels.h"
#include "FeedbackController.h"
#include "PanelActionStyle.h"
#include "PanelLabel.h"
#include "PanelPalette.h"
#include "PanelScrollArea.h"
#include "PanelSymbolView.h"
#include "PanelSymbols.h"
#include "PressFeedback.h"
#include "ProgressSpinner.h"
#include "ProviderCard.h"
#include "UsageObservationAge.h"
#include "accounts/UsageAccounts.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>

namespace {

const QString kUpdated = QStringLiteral("Обновлено");

// A 31-point circle in the header holding one symbol, or nothing while busy
// (the spinner sits over it then).
class CircleButton final : public QAbstractButton {
public:
    static constexpr int kSide = 31;
    static constexpr qreal kGlyph = 13;

    CircleButton(PanelSymbol symbol, QFont::Weight weight, QWidget* parent)
        : QAbstractButton(parent), m_symbol(symbol), m_weight(weight)
    {
        setFixedSize(kSide, kSide);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }

    // A small spinner takes the symbol's place while busy.
    void setBusy(bool busy)
    {
        if (busy == m_busy)
            return;
        m_busy = busy;
        if (busy && !m_spinner) {
            m_spinner = new ProgressSpinner(ProgressSpinner::Size::small, this);
            const QSize size = m_spinner->sizeHint();
            m_spinner->setGeometry(QRect(QPoint((kSide - size.width()) / 2, (kSide - size.height()) / 2), size));
            m_spinner->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
        if (m_spinner)
            m_spinner->setVisible(busy);
        update();
    }
    bool isBusy() const { return m_busy; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(palette::withOpacity(palette::color(PanelColor::panelForeground), 0.07));
        p.drawEllipse(QRectF(rect()));
        if (m_busy)
            return;
        const qreal side = panelsymbols::side(kGlyph);
        const QRectF box(QPointF(width() / 2.0 - side / 2, height() / 2.0 - side / 2), QSizeF(side, side));
        const QColor ink = palette::withOpacity(palette::color(PanelColor::panelPrimaryText), isEnabled() ? 1.0 : 0.4);
        panelsymbols::paint(p, m_symbol, box, ink, m_weight);
    }

private:
    PanelSymbol m_symbol;
    QFont::Weight m_weight;
    bool m_busy = false;
    ProgressSpinner* m_spinner = nullptr;
};

// A footer button: the caption at medium weight in the secondary colour,
// padded 8 by 5 points; while pressed a faint capsule behind it and a slight
// shrink, springing in 0.16 s.
class FooterButton final : public QAbstractButton {
public:
    static constexpr qreal kHorizontalPadding = 8;
    static constexpr qreal kVerticalPadding = 5;
    static constexpr qreal kSymbolSpacing = 4;

    FooterButton(const QString& text, std::optional<PanelSymbol> symbol, QWidget* parent)
        : QAbstractButton(parent), m_symbol(symbol), m_press(new PressFeedback(this, 0.16))
    {
        setText(text);
        setAccessibleName(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        connect(m_press, &PressFeedback::changed, this, [this] { update(); });
    }

    static QFont labelFont() { return fonts::style(TextStyle::caption, QFont::Medium); }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(labelFont());
        qreal width = metrics.horizontalAdvance(text());
        if (m_symbol)
            width += symbolSide() + kSymbolSpacing;
        return QSize(int(std::ceil(width + 2 * kHorizontalPadding)),
                     int(std::ceil(metrics.height() + 2 * kVerticalPadding)));
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const qreal pressed = m_press->amount();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF area = rect();
        const qreal scale = 1.0 - 0.03 * pressed;
        p.translate(area.center());
        p.scale(scale, scale);
        p.translate(-area.center());
        if (pressed > 0) {
            p.setPen(Qt::NoPen);
            p.setBrush(palette::withOpacity(palette::color(PanelColor::panelForeground), 0.09 * pressed));
            p.drawRoundedRect(area, area.height() / 2, area.height() / 2);
        }
        const QFont font = labelFont();
        const QFontMetricsF metrics(font);
        const QColor ink = palette::color(PanelColor::panelSecondaryText);
        qreal x = area.left() + kHorizontalPadding;
        if (m_symbol) {
            const qreal side = symbolSide();
            panelsymbols::paint(p, *m_symbol, QRectF(x, area.center().y() - side / 2, side, side), ink);
            x += side + kSymbolSpacing;
        }
        p.setFont(font);
        p.setPen(ink);
        p.drawText(QRectF(x, area.top(), area.right() - x, area.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    static qreal symbolSide() { return panelsymbols::side(fonts::pointSize(TextStyle::caption)); }

    std::optional<PanelSymbol> m_symbol;
    PressFeedback* m_press;
};

// The footer's band: its background and the hairline along its top edge.
class FooterBand final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette::color(PanelColor::footerBackground));
        p.fillRect(QRectF(0, 0, width(), 1), palette::withOpacity(palette::color(PanelColor::panelForeground), 0.07));
    }
};

} // namespace

DashboardStatus DashboardStatus::of(bool hasConnectionErrors, bool isRecoveringConnection,
                                    std::optional<Timestamp> lastUpdated)
{
    if (hasConnectionErrors)
        return {isRecoveringConnection ? QStringLiteral("Восстановление подключения")
                                       : QStringLiteral("Есть ошибки подключения"),
                std::nullopt, true};
    if (lastUpdated)
        return {kUpdated, lastUpdated, false};
    return {QStringLiteral("Лимиты AI-провайдеров"), std::nullopt, false};
}

DashboardModel DashboardModel::of(const UsageAccounts& accounts)
{
    DashboardModel m;
    m.profiles = accounts.visibleProfilesByProvider();
    m.isEmpty = accounts.visibleProfiles().isEmpty();
    m.isRefreshing = accounts.isRefreshing();
    m.canRefresh = !m.isRefreshing && !m.isEmpty;
    m.status = DashboardStatus::of(accounts.hasConnectionErrors(), accounts.isRecoveringConnection(),
                                   accounts.lastUpdated());
    return m;
}

DashboardView::DashboardView(UsageAccounts& accounts, Actions actions, QWidget* parent)
    : QWidget(parent), m_accounts(accounts), m_actions(std::move(actions))
{
    setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(12);
    auto* titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(3);
    auto* title = new PanelLabel(QStringLiteral("Vantorel"), fonts::style(TextStyle::title2, QFont::Bold),
                                 PanelColor::panelPrimaryText, this);
    titleBlock->addWidget(title);
    auto* status = new QHBoxLayout;
    status->setSpacing(3);
    m_statusText = new PanelLabel(QString(), fonts::style(TextStyle::caption), PanelColor::panelSecondaryText, this);
    m_statusAge = new LiveTimeLabel(this, &accounts.scheduler());
    m_statusAge->setFont(fonts::style(TextStyle::caption));
    cardlabels::followTextRole(m_statusAge, PanelColor::panelSecondaryText);
    status->addWidget(m_statusText);
    status->addWidget(m_statusAge);
    status->addStretch();
    titleBlock->addLayout(status);
    header->addLayout(titleBlock);
    header->addStretch();
    if (m_actions.collapse) {
        auto* collapse = new CircleButton(PanelSymbol::chevronRight, QFont::Bold, this);
        collapse->setToolTip(QStringLiteral("Свернуть к краю экрана"));
        collapse->setAccessibleName(QStringLiteral("Свернуть Vantorel"));
        connect(collapse, &QAbstractButton::clicked, this, [this] {
            if (m_actions.collapse)
                m_actions.collapse();
        });
        header->addWidget(collapse);
    }
    auto* refresh = new CircleButton(PanelSymbol::arrowClockwise, QFont::DemiBold, this);
    refresh->setToolTip(QStringLiteral("Обновить сейчас"));
    refresh->setAccessibleName(QStringLiteral("Обновить использование"));
    connect(refresh, &QAbstractButton::clicked, this, &DashboardView::refreshAll);
    m_refresh = refresh;
    header->addWidget(refresh);
    column->addLayout(header);

    // Account list.
    m_scroll = makePanelScrollArea(this);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    m_list = new QVBoxLayout(content);
    m_list->setContentsMargins(14, 0, 14, 12);
    m_list->setSpacing(12);
    m_cards = std::make_unique<KeyedWidgetList>(*m_list, 0);

    m_emptyState = new QWidget(content);
    auto* empty = new QVBoxLayout(m_emptyState);
    empty->setContentsMargins(0, 40, 0, 0);
    empty->setSpacing(8);
    auto* emptyIcon = new PanelSymbolView(PanelSymbol::personCropCircleBadgeCheckmark, 40,
                                          PanelColor::panelSecondaryText, m_emptyState);
    empty->addWidget(emptyIcon, 0, Qt::AlignHCenter);
    auto* emptyTitle = new PanelLabel(QStringLiteral("Нет выбранных аккаунтов"),
                                      fonts::style(TextStyle::title3, QFont::Bold), PanelColor::panelPrimaryText,
                                      m_emptyState);
    emptyTitle->setAlignment(Qt::AlignCenter);
    empty->addWidget(emptyTitle);
    auto* emptyText = new PanelLabel(QStringLiteral("Включите нужные профили в настройках."),
                                     fonts::style(TextStyle::callout), PanelColor::panelSecondaryText, m_emptyState);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyText->setWordWrap(true);
    empty->addWidget(emptyText);
    auto* choose = new PanelActionButton(QStringLiteral("Выбрать аккаунты"), m_emptyState);
    choose->setAccessibleName(choose->text());
    connect(choose, &QAbstractButton::clicked, this, &DashboardView::showSettings);
    empty->addSpacing(4);
    empty->addWidget(choose, 0, Qt::AlignHCenter);
    m_list->addWidget(m_emptyState);
    m_list->addStretch();
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turns it on
    content->setAttribute(Qt::WA_TranslucentBackground);
    column->addWidget(m_scroll, 1);

    // Footer.
    auto* footer = new FooterBand(this);
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(14, 11, 14, 11);
    footerRow->setSpacing(4);
    auto* settings = new FooterButton(QStringLiteral("Настройки"), PanelSymbol::gearshape, footer);
    connect(settings, &QAbstractButton::clicked, this, &DashboardView::showSettings);
    footerRow->addWidget(settings);
    footerRow->addStretch();
    auto* quit = new FooterButton(QStringLiteral("Завершить"), std::nullopt, footer);
    connect(quit, &QAbstractButton::clicked, this, [this] {
        if (m_actions.quit)
            m_actions.quit();
        else
            QCoreApplication::quit();
    });
    footerRow->addWidget(quit);
    column->addWidget(footer);

    m_observer = new AccountsObserver(accounts, [this] { rerender(); }, this);
    apply(DashboardModel::of(accounts));
}

DashboardView::~DashboardView() = default;

void DashboardView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_observer->flush();
    if (m_stale)
        rerender();
}

void DashboardView::rerender()
{
    // A hidden dashboard catches up when it is shown again.
    m_stale = !isVisible();
    if (!m_stale)
        apply(DashboardModel::of(m_accounts));
}

void DashboardView::apply(const DashboardModel& model)
{
    const bool firstTime = !m_applied;
    m_applied = true;

    if (firstTime || model.status != m_model.status) {
        m_statusText->setText(model.status.text);
        m_statusText->setRole(model.status.warning ? PanelColor::panelWarning : PanelColor::panelSecondaryText);
        if (model.status.updatedAt) {
            m_statusAge->showAgo(*model.status.updatedAt);
            m_statusAge->setVisible(true);
        } else {
            m_statusAge->setVisible(false);
        }
    }
    static_cast<CircleButton*>(m_refresh)->setBusy(model.isRefreshing);
    m_refresh->setEnabled(model.canRefresh);

    QStringList ids;
    for (const ProviderProfile& profile : model.profiles)
        ids << profile.id();
    const QList<ProviderProfile>& profiles = model.profiles;
    m_cardsBuilt += m_cards->reconcile(
        ids,
        [&](int index) {
            // Forced, without a cue; the registry looks the profile up again by its id.
            auto retry = [accounts = &m_accounts, profile = profiles.at(index)] { accounts->refresh(profile, true); };
            return new ProviderCard(&m_accounts, retry, nullptr, &m_accounts.scheduler());
        },
        [&](QWidget* widget, int index) {
            const ProviderProfile& profile = profiles.at(index);
            static_cast<ProviderCard*>(widget)->apply(ProviderCardModel::make(
                m_accounts.usage(profile), profile.name, profile, /*withResetControl*/ true, /*withRefresh*/ true));
        });
    m_emptyState->setVisible(model.isEmpty);
    m_model = model;
}

void DashboardView::refreshAll()
{
    FeedbackController* feedback = m_actions.feedback ? m_actions.feedback : &FeedbackController::shared();
    feedback->playSelection();
    // The refresh outlives the view: its success cue still plays after the panel collapsed.
    m_accounts.refreshAll(true, [feedback](bool clean) {
        if (clean)
            feedback->playSuccess();
    });
}

void DashboardView::showSettings()
{
    FeedbackController* feedback = m_actions.feedback ? m_actions.feedback : &FeedbackController::shared();
    feedback->playSelection();
    if (m_actions.openSettings)
        m_actions.openSettings();
}
