#include "CodexResetControl.h"

#include "Appearance.h"
#include "CardLabels.h"
#include "PanelAccessibility.h"
#include "PanelActionStyle.h"
#include "PanelPalette.h"
#include "PanelPopover.h"
#include "PanelSymbolView.h"
#include "PanelSymbols.h"
#include "ProgressSpinner.h"
#include "WindowShape.h"
#include "usage/UsageAccounts.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <cmath>

namespace {

// The system mint, light and dark.
AdaptiveColor mint()
{
    return {QColor::fromRgb(0x00C7BE), QColor::fromRgb(0x63E6E2)};
}

QWidget* row(QWidget* parent, int spacing, std::initializer_list<QWidget*> children, bool stretch = true)
{
    auto* widget = new QWidget(parent);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* child : children) {
        child->setParent(widget);
        layout->addWidget(child, 0, Qt::AlignVCenter);
    }
    if (stretch)
        layout->addStretch(1);
    return widget;
}

PanelActionButton* actionButton(const QString& text, QWidget* parent)
{
    auto* button = new PanelActionButton(text, parent);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// The compact form's offer: a mint arrow on a dark disc.
class CompactOfferButton final : public QAbstractButton {
public:
    explicit CompactOfferButton(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(CodexResetControl::kCompactSide, CodexResetControl::kCompactSide);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
    }
    void setRetry(bool retry)
    {
        if (retry == m_retry)
            return;
        m_retry = retry;
        update();
    }
    bool isRetry() const { return m_retry; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool dark = Appearance::shared().isDark();
        const QRectF box(rect());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, int(std::lround(0.45 * 255))));
        p.drawEllipse(box);
        const QRectF glyph(box.center().x() - 8, box.center().y() - 8, 16, 16);
        const QPainterPath path = panelsymbols::path(
            m_retry ? PanelSymbol::arrowClockwise : PanelSymbol::arrowCounterclockwise, glyph, QFont::Bold);
        // A soft black shadow of radius 1 under the glyph.
        p.strokePath(path, QPen(QColor(0, 0, 0, int(std::lround(0.6 * 0.5 * 255))), 2.0));
        QColor colour = mint().resolve(dark);
        if (isDown())
            colour.setAlphaF(0.75f);
        p.fillPath(path, colour);
    }

private:
    bool m_retry = false;
};

// The popover's confirm button: bordered, prominent, tinted mint.
class ProminentButton final : public QAbstractButton {
public:
    explicit ProminentButton(QWidget* parent) : QAbstractButton(parent)
    {
        setFocusPolicy(Qt::NoFocus);
        setFont(fonts::style(TextStyle::caption, QFont::Medium));
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF m(font());
        return QSize(int(std::ceil(m.horizontalAdvance(text()))) + 24, int(std::ceil(m.height())) + 16);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool dark = Appearance::shared().isDark();
        p.setOpacity(!isEnabled() ? 0.55 : (isDown() ? 0.75 : 1.0));
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 10, 10);
        p.fillPath(shape, mint().resolve(dark));
        p.setPen(dark ? QColor(0x10, 0x2A, 0x28) : QColor(Qt::white));
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

// The popover's surface with its arrow on the trailing edge, pointing at the
// control. Without a compositing manager the popover window is shaped to it.
class PopoverFrame final : public QWidget {
public:
    static constexpr int kArrow = 8;
    static constexpr qreal kRadius = 12;

    explicit PopoverFrame(QWidget* parent) : QWidget(parent), m_shape(new WindowShape(this)) {}
    void setArrowY(qreal y)
    {
        m_arrowY = y;
        reshape();
        update();
    }
    qreal arrowY() const { return m_arrowY; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool dark = Appearance::shared().isDark();
        const QPainterPath shape = surface();
        p.fillPath(shape, palette::color(PanelColor::cardBackground, dark));
        p.strokePath(shape, QPen(palette::color(PanelColor::cardBorder, dark), kBorder));
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        reshape();
    }

private:
    static constexpr qreal kBorder = 1.0;

    // The rounded body and the arrow, as one path.
    QPainterPath surface() const
    {
        const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -kArrow - 0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(body, kRadius, kRadius);
        const qreal low = body.top() + kRadius + kArrow;
        const qreal high = body.bottom() - kRadius - kArrow;
        const qreal y = low <= high ? std::clamp(m_arrowY, low, high) : body.center().y();
        QPainterPath arrow;
        arrow.moveTo(body.right() - 1, y - kArrow);
        arrow.lineTo(body.right() + kArrow, y);
        arrow.lineTo(body.right() - 1, y + kArrow);
        arrow.closeSubpath();
        return shape.united(arrow);
    }

    // The border is translucent and half of it lies outside the surface: the
    // shape keeps the opaque surface.
    void reshape() { m_shape->setOutline(surface()); }

    qreal m_arrowY = 0;
    WindowShape* m_shape;
};

} // namespace

struct CodexResetControl::Compact {
    ProgressSpinner* spinner = nullptr;
    PanelSymbolView* waiting = nullptr;
    CompactOfferButton* offer = nullptr;
};

struct CodexResetControl::Full {
    QLabel* creditsText = nullptr;
    QLabel* expiry = nullptr;
    QWidget* busy = nullptr;
    QLabel* awaiting = nullptr;
    PanelActionButton* refresh = nullptr;
    PanelActionButton* offer = nullptr;
};

struct CodexResetControl::Popover {
    PopoverFrame* frame = nullptr;
    QLabel* title = nullptr;
    QLabel* message = nullptr;
    PanelActionButton* done = nullptr;
    QWidget* progress = nullptr;
    QLabel* progressText = nullptr;
    QLabel* question = nullptr;
    QLabel* explanation = nullptr;
    QWidget* buttons = nullptr;
    PanelActionButton* cancel = nullptr;
    ProminentButton* confirm = nullptr;
};

CodexResetControl::CodexResetControl(UsageAccounts& accounts, ProviderProfile profile, bool compact, QWidget* parent)
    : QWidget(parent)
    , m_accounts(accounts)
    , m_profile(std::move(profile))
    , m_compact(compact)
    , m_call([this] { render(); })
{
    if (m_compact)
        buildCompact();
    else
        buildFull();

    CodexResetController& resets = m_accounts.resets();
    const auto request = [this] { m_call.request(); };
    connect(&resets, &CodexResetController::busyAccountIDChanged, this, request);
    connect(&resets, &CodexResetController::attemptsChanged, this, request);
    connect(&resets, &CodexResetController::recoveryGatesChanged, this, request);
    connect(&resets, &CodexResetController::confirmationsChanged, this, request);
    connect(&m_accounts, &UsageAccounts::profilesChanged, this, request);
    connect(&m_accounts, &UsageAccounts::storesChanged, this, [this] {
        followStore();
        m_call.request();
    });
    followStore();
    render();
}

CodexResetControl::~CodexResetControl()
{
    for (const QMetaObject::Connection& c : m_storeConnections)
        disconnect(c);
    if (m_popover) {
        // The popover belongs to the panel window, not to this control.
        disconnect(m_popover, nullptr, this, nullptr);
        if (m_presented)
            m_accounts.resets().discardConfirmation(m_confirmation);
        delete m_popover;
    }
}

void CodexResetControl::buildCompact()
{
    setFixedSize(kCompactSide, kCompactSide);
    m_compactParts = std::make_unique<Compact>();
    Compact& c = *m_compactParts;
    c.spinner = new ProgressSpinner(ProgressSpinner::Size::mini, this);
    c.waiting = new PanelSymbolView(PanelSymbol::clockArrowCirclepath, 12, PanelColor::panelSecondaryText, this);
    c.offer = new CompactOfferButton(this);
    for (QWidget* w : {static_cast<QWidget*>(c.spinner), static_cast<QWidget*>(c.waiting), static_cast<QWidget*>(c.offer)}) {
        w->move((kCompactSide - w->width()) / 2, (kCompactSide - w->height()) / 2);
        w->hide();
    }
    panelaccess::hide(c.spinner);
    connect(c.offer, &QAbstractButton::clicked, this, &CodexResetControl::open);
}

void CodexResetControl::buildFull()
{
    m_fullParts = std::make_unique<Full>();
    Full& f = *m_fullParts;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* creditsBlock = new QWidget(this);
    auto* creditsLayout = new QVBoxLayout(creditsBlock);
    creditsLayout->setContentsMargins(0, 0, 0, 0);
    creditsLayout->setSpacing(2);
    f.creditsText = cardlabels::withSymbol(PanelSymbol::arrowCounterclockwise, QString(), TextStyle::caption,
                                           PanelColor::panelPrimaryText, creditsBlock, 0, QFont::Medium);
    creditsLayout->addWidget(f.creditsText);
    f.expiry = cardlabels::text(TextStyle::caption2, PanelColor::panelSecondaryText, creditsBlock);
    creditsLayout->addWidget(f.expiry);
    layout->addWidget(creditsBlock);

    auto* spinner = new ProgressSpinner(ProgressSpinner::Size::small);
    panelaccess::hide(spinner);
    QLabel* progress = cardlabels::text(TextStyle::caption, PanelColor::panelPrimaryText, nullptr, std::nullopt, false);
    progress->setText(resettext::kProgress);
    f.busy = row(this, 8, {spinner, progress});
    layout->addWidget(f.busy);

    f.awaiting = cardlabels::text(TextStyle::caption, PanelColor::panelSecondaryText, this);
    f.awaiting->setText(resettext::kAwaiting);
    layout->addWidget(f.awaiting);

    f.refresh = actionButton(resettext::kRefresh, this);
    layout->addWidget(f.refresh, 0, Qt::AlignLeft);
    connect(f.refresh, &QAbstractButton::clicked, this, &CodexResetControl::refreshLimits);

    f.offer = actionButton(QString(), this);
    layout->addWidget(f.offer, 0, Qt::AlignLeft);
    connect(f.offer, &QAbstractButton::clicked, this, &CodexResetControl::open);
}

void CodexResetControl::buildPopover()
{
    m_popover = new PanelPopover(this);
    m_popover->installEventFilter(this);
    connect(m_popover, &PanelPopover::closed, this, &CodexResetControl::popoverClosed);

    m_popoverParts = std::make_unique<Popover>();
    Popover& p = *m_popoverParts;
    auto* outer = new QVBoxLayout(m_popover);
    outer->setContentsMargins(0, 0, 0, 0);
    p.frame = new PopoverFrame(m_popover);
    outer->addWidget(p.frame);
    auto* layout = new QVBoxLayout(p.frame);
    layout->setContentsMargins(18, 18, 18 + PopoverFrame::kArrow, 18);
    layout->setSpacing(14);
    p.frame->setFixedWidth(kPopoverWidth + PopoverFrame::kArrow);

    p.title = cardlabels::text(TextStyle::headline, PanelColor::panelPrimaryText, p.frame);
    layout->addWidget(p.title);
    p.message = cardlabels::text(TextStyle::callout, PanelColor::panelPrimaryText, p.frame);
    p.message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(p.message);
    p.done = actionButton(resettext::kDone, p.frame);
    layout->addWidget(p.done, 0, Qt::AlignLeft);
    connect(p.done, &QAbstractButton::clicked, this, &CodexResetControl::finish);

    auto* spinner = new ProgressSpinner(ProgressSpinner::Size::small);
    panelaccess::hide(spinner);
    p.progressText = cardlabels::text(TextStyle::callout, PanelColor::panelPrimaryText, nullptr, std::nullopt, false);
    p.progress = row(p.frame, 8, {spinner, p.progressText});
    layout->addWidget(p.progress);

    p.question = cardlabels::text(TextStyle::callout, PanelColor::panelPrimaryText, p.frame, QFont::DemiBold);
    layout->addWidget(p.question);
    p.explanation = cardlabels::text(TextStyle::caption, PanelColor::panelSecondaryText, p.frame);
    layout->addWidget(p.explanation);
    p.cancel = actionButton(resettext::kCancel, nullptr);
    p.confirm = new ProminentButton(nullptr);
    p.buttons = row(p.frame, 8, {p.cancel, p.confirm});
    layout->addWidget(p.buttons);
    connect(p.cancel, &QAbstractButton::clicked, this, &CodexResetControl::cancel);
    connect(p.confirm, &QAbstractButton::clicked, this, &CodexResetControl::confirm);
}

void CodexResetControl::followStore()
{
    for (const QMetaObject::Connection& c : m_storeConnections)
        disconnect(c);
    m_storeConnections.clear();
    if (UsageStore* store = m_accounts.stores().value(m_profile.id()))
        m_storeConnections << connect(store, &UsageStore::codexChanged, this, [this] { m_call.request(); });
}

void CodexResetControl::setProfile(const ProviderProfile& profile)
{
    if (profile.id() != m_profile.id() || profile == m_profile)
        return;
    m_profile = profile;
    render();
}

void CodexResetControl::refresh()
{
    render();
}

QSize CodexResetControl::sizeHint() const
{
    if (m_compact)
        return {kCompactSide, kCompactSide};
    return QWidget::sizeHint();
}

void CodexResetControl::render()
{
    const ProviderUsage usage = m_accounts.usage(m_profile);
    const CodexResetQueries queries = CodexResetQueries::ask(m_accounts.resets(), usage);
    const CodexResetControlModel model = CodexResetControlModel::make(queries, usage, m_profile);
    if (!m_rendered || model != m_model)
        applyModel(model);
    m_rendered = true;
    if (m_popover) {
        const CodexResetPopoverModel popover =
            CodexResetPopoverModel::make(m_profile, m_message, queries, m_confirmation, m_requestRunning);
        if (!m_popoverRendered || popover != m_popoverModel)
            applyPopover(popover);
        m_popoverRendered = true;
    }
}

void CodexResetControl::applyModel(const CodexResetControlModel& model)
{
    using State = CodexResetControlModel::State;
    m_model = model;
    if (m_compact) {
        Compact& c = *m_compactParts;
        c.spinner->setVisible(model.state == State::busy);
        c.waiting->setVisible(model.state == State::awaitingRecovery);
        c.offer->setVisible(model.state == State::offer);
        c.offer->setRetry(model.retry);
        c.offer->setObjectName(model.compactObjectName);
        c.offer->setAccessibleName(model.state == State::offer ? model.compactAccessibleName : QString());
        c.offer->setToolTip(model.state == State::offer ? model.compactToolTip : QString());
        setAccessibleName(model.state == State::offer ? QString() : model.compactAccessibleName);
        setToolTip(model.state == State::offer ? QString() : model.compactToolTip);
        return;
    }
    Full& f = *m_fullParts;
    f.creditsText->setText(model.creditsLine.value_or(QString()));
    f.expiry->setVisible(!model.expiryLines.isEmpty());
    f.expiry->setText(model.expiryLines.join(QLatin1Char('\n')));
    f.creditsText->parentWidget()->setVisible(model.creditsLine.has_value());
    f.busy->setVisible(model.state == State::busy);
    f.awaiting->setVisible(model.state == State::awaitingRecovery);
    f.refresh->setVisible(model.state == State::awaitingRecovery);
    f.refresh->setEnabled(model.state == State::awaitingRecovery && model.buttonEnabled);
    f.offer->setVisible(model.state == State::offer);
    f.offer->setEnabled(model.state == State::offer && model.buttonEnabled);
    f.offer->setText(model.state == State::offer ? model.buttonTitle : QString());
    f.offer->setObjectName(model.buttonObjectName);
    f.offer->updateGeometry();
    // The full form takes no room in its card when it has nothing to show.
    setVisible(model.creditsLine.has_value() || model.state != State::nothing);
}

void CodexResetControl::applyPopover(const CodexResetPopoverModel& model)
{
    using Body = CodexResetPopoverModel::Body;
    m_popoverModel = model;
    Popover& p = *m_popoverParts;
    p.title->setText(model.title);
    p.message->setVisible(model.body == Body::message);
    p.done->setVisible(model.body == Body::message);
    if (model.body == Body::message)
        p.message->setText(model.message);
    p.progress->setVisible(model.body == Body::progress);
    if (model.body == Body::progress)
        p.progressText->setText(model.message);
    const bool confirming = model.body == Body::confirm;
    p.question->setVisible(confirming);
    p.explanation->setVisible(confirming);
    p.buttons->setVisible(confirming);
    p.question->setText(model.question);
    p.explanation->setText(model.explanation);
    p.confirm->setText(model.confirmTitle);
    p.confirm->setEnabled(model.confirmEnabled);
    p.confirm->setObjectName(model.confirmObjectName);
    p.confirm->updateGeometry();
    m_popover->setDismissable(model.dismissable);

    const int width = kPopoverWidth + PopoverFrame::kArrow;
    p.frame->layout()->activate();
    const int forWidth = p.frame->heightForWidth(width);
    const int height = forWidth > 0 ? forWidth : p.frame->sizeHint().height();
    p.frame->setFixedHeight(height);
    m_popover->setFixedSize(width, height);
    if (m_presented)
        placePopover();
}

void CodexResetControl::placePopover()
{
    // Beside the control, its arrow on the control's leading edge, inside the screen.
    const QPoint anchor = mapToGlobal(QPoint(0, height() / 2));
    QPoint topLeft(anchor.x() - m_popover->width(), anchor.y() - m_popover->height() / 2);
    if (QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() - m_popover->height())));
        topLeft.setX(std::max(topLeft.x(), area.left()));
    }
    m_popoverParts->frame->setArrowY(anchor.y() - topLeft.y());
    m_popover->move(topLeft);
}

void CodexResetControl::open()
{
    const ProviderUsage usage = m_accounts.usage(m_profile);
    const std::optional<Confirmation> confirmation = m_accounts.resets().makeConfirmation(m_profile, usage);
    if (!confirmation)
        return;
    if (m_presented && m_confirmation != confirmation)
        m_accounts.resets().discardConfirmation(m_confirmation);
    m_confirmation = confirmation;
    m_message.reset();
    if (m_popover && m_popover->panelWindow() != window()) {
        disconnect(m_popover, nullptr, this, nullptr);
        delete m_popover;
        m_popoverParts.reset();
        m_popoverRendered = false;
    }
    if (!m_popover)
        buildPopover();
    m_presented = true;
    render();
    placePopover();
    m_popover->popupAt(m_popover->pos());
    emit presentedChanged(true);
}

void CodexResetControl::confirm()
{
    if (!m_confirmation || m_requestRunning || !m_popoverModel.confirmEnabled)
        return;
    m_requestRunning = true;
    QPointer<CodexResetControl> self(this);
    m_accounts.requestCodexReset(*m_confirmation, m_profile, [self](Result<QString> message) {
        if (!self)
            return;
        self->m_requestRunning = false;
        self->m_message = message.ok() ? message.value() : CodexResetController::kUnconfirmedMessage;
        self->render();
    });
    render();
}

void CodexResetControl::cancel()
{
    m_accounts.resets().discardConfirmation(m_confirmation);
    finish();
}

void CodexResetControl::finish()
{
    if (m_popover)
        m_popover->close();
}

void CodexResetControl::popoverClosed()
{
    if (!m_presented)
        return;
    m_presented = false;
    m_accounts.resets().discardConfirmation(m_confirmation);
    m_confirmation.reset();
    render();
    emit presentedChanged(false);
}

void CodexResetControl::refreshLimits()
{
    m_accounts.refresh(m_profile, false);
}

bool CodexResetControl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_popover && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_popoverModel.body == CodexResetPopoverModel::Body::confirm) {
            confirm();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
