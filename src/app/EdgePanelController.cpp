#include "EdgePanelController.h"

#include "ScreenParameters.h"
#include "panel/FeedbackController.h"
#include "panel/Motion.h"
#include "panel/PanelPopover.h"
#include "panel/WindowShape.h"
#include "platform/CoalescedCall.h"
#include "platform/MainThread.h"
#include "platform/X11WindowStates.h"
#include "usage/UsageAccounts.h"

#include <QCursor>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

// Makes `child` fill `host`.
void adoptFilling(QWidget* host, QWidget* child)
{
    if (!child)
        return;
    child->setParent(host);
    child->setGeometry(host->rect());
    child->show();
}

} // namespace

EdgePanel::EdgePanel(const QRect& frame)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(kIdentifier);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A tool window stays when the application is not active (macOS hides it otherwise).
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(frame);
}

void EdgePanel::setContent(QWidget* content)
{
    m_content = content;
    adoptFilling(this, content);
}

bool EdgePanel::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // Qt writes the window's state when it maps the window (a show, or a new
    // native window when it moves to another X screen): add ours each time.
    if (event->type() == QEvent::Show || (event->type() == QEvent::WinIdChange && isVisible()))
        x11::keepOnAllDesktops(winId());
    return handled;
}

void EdgePanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
}

HoverTrackingView::HoverTrackingView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
}

void HoverTrackingView::setRootView(QWidget* view)
{
    m_rootView = view;
    adoptFilling(this, view);
}

void HoverTrackingView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (onHover)
        onHover(true);
}

void HoverTrackingView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (onHover)
        onHover(false);
}

void HoverTrackingView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_rootView)
        m_rootView->setGeometry(rect());
}

namespace {

double naturalHeight(EdgePanelMode mode, int count)
{
    if (mode == EdgePanelMode::cards)
        return 570;
    if (count <= 0)
        return 270;
    return 88.0 * count + 16.0 * (count - 1) + 76 + 46 + 22 + 82;
}

double width(EdgePanelMode mode)
{
    switch (mode) {
    case EdgePanelMode::strip: return 16;
    case EdgePanelMode::rings: return 70;
    case EdgePanelMode::cards: return 300;
    }
    return 16;
}

std::optional<QRect> availableArea(QScreen* screen)
{
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

std::optional<QRect> mainScreenArea()
{
    if (auto area = availableArea(QGuiApplication::primaryScreen()))
        return area;
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screens.isEmpty() ? std::nullopt : availableArea(screens.first());
}

} // namespace

QRectF EdgePanelController::layoutFrame(EdgePanelMode mode, int count, const QRectF& v)
{
    const double w = width(mode);
    const double height = std::min(naturalHeight(mode, count), std::max(v.height() - 24, 1.0));
    const double x = v.x() + v.width() - w;
    const double minY = v.y();
    const double maxY = v.y() + v.height();
    const double midY = v.y() + v.height() * 0.5;
    const double y = std::min(std::max(midY - height * 0.5, minY), std::max(maxY - height, minY));
    return QRectF(x, y, w, height);
}

QRect EdgePanelController::windowRect(const QRectF& frame)
{
    return QRect(int(std::lround(frame.x())), int(std::lround(frame.y())), int(std::lround(frame.width())),
                 int(std::lround(frame.height())));
}

EdgePanelController::EdgePanelController(UsageAccounts& store, Options options)
    : m_store(store)
    , m_options(std::move(options))
{
    ASSERT_MAIN_THREAD();
    m_accountCount = int(m_store.visibleProfiles().size());

    std::optional<QRect> first = m_options.visibleFrameProvider ? m_options.visibleFrameProvider() : std::nullopt;
    if (!first)
        first = mainScreenArea();
    const QRectF area = first ? QRectF(*first) : QRectF();
    m_panel = std::make_unique<EdgePanel>(windowRect(layoutFrame(EdgePanelMode::strip, m_accountCount, area)));
    if (m_options.screenProvider)
        if (QScreen* screen = m_options.screenProvider())
            m_panel->setScreen(screen);

    m_trackingView = new HoverTrackingView;
    QPointer<EdgePanelController> self(this);
    m_trackingView->onHover = [self](bool inside) {
        if (self)
            self->handleHover(inside);
    };
    std::function<void()> toggleAction = [self, play = m_options.playSelection] {
        if (play)
            play();
        else
            FeedbackController::shared().playSelection();
        if (self)
            self->toggle();
    };
    QWidget* root = m_options.makeRootView
        ? m_options.makeRootView(m_store, m_state, toggleAction)
        : new EdgePanelView(m_store, m_state, toggleAction, m_options.viewActions);
    m_trackingView->setRootView(root);
    m_panel->setContent(m_trackingView);

    m_animation = new QVariantAnimation(this);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_panel->setGeometry(value.toRect());
    });

    connect(&ScreenParameters::shared(), &ScreenParameters::changed, this,
            &EdgePanelController::screenParametersDidChange);
    connect(&PanelPopoverRegistry::shared(), &PanelPopoverRegistry::popoverClosed, this,
            &EdgePanelController::popoverDidClose);

    m_accountsChanged = new CoalescedCall([this] { observeAccounts(); }, this);
    connect(&m_store, &UsageAccounts::profilesChanged, m_accountsChanged, &CoalescedCall::request);
    observeAccounts();
}

EdgePanelController::EdgePanelController(UsageAccounts& store)
    : EdgePanelController(store, Options {})
{
}

EdgePanelController::~EdgePanelController()
{
    m_animation->stop();
}

QVariantAnimation* EdgePanelController::frameAnimation() const
{
    return m_animation->state() == QAbstractAnimation::Stopped ? nullptr : m_animation;
}

std::optional<QRect> EdgePanelController::screenVisibleFrame() const
{
    ASSERT_MAIN_THREAD();
    if (m_options.visibleFrameProvider)
        return m_options.visibleFrameProvider();
    if (auto area = availableArea(m_panel->screen()))
        return area;
    return mainScreenArea();
}

bool EdgePanelController::reduceMotion() const
{
    return m_options.reduceMotionProvider ? m_options.reduceMotionProvider() : motion::reduceMotion();
}

bool EdgePanelController::animationAllowed() const
{
    return m_options.animationsEnabled && !reduceMotion();
}

bool EdgePanelController::isOnScreen() const
{
    if (m_options.isOnScreenProvider)
        return m_options.isOnScreenProvider();
    QWindow* window = m_panel->windowHandle();
    return m_panel->isVisible() && window && window->isExposed();
}

QPoint EdgePanelController::pointerLocation() const
{
    return m_options.pointerLocationProvider ? m_options.pointerLocationProvider() : QCursor::pos();
}

bool EdgePanelController::pointerOverPanelOrChild() const
{
    const QPoint pointer = pointerLocation();
    return WindowShape::containsGlobalPoint(*m_panel, pointer) || PanelPopover::containsGlobalPoint(m_panel.get(), pointer);
}

void EdgePanelController::setWindowFrame(const QRect& frame)
{
    m_animation->stop();
    m_panel->setGeometry(frame);
}

void EdgePanelController::applyFrame(bool animated)
{
    ASSERT_MAIN_THREAD();
    const std::optional<QRect> area = screenVisibleFrame();
    if (!area)
        return;
    if (m_options.screenProvider) {
        QScreen* screen = m_options.screenProvider();
        if (screen && screen != m_panel->screen())
            m_panel->setScreen(screen);
    }
    const QRect target = windowRect(layoutFrame(m_state.mode(), m_accountCount, QRectF(*area)));
    // Where the window is, or where it is heading while it moves.
    const QRect destination = frameAnimation() ? m_animation->endValue().toRect() : m_panel->geometry();
    if (target == destination)
        return;
    if (animated && isOnScreen()) {
        m_animation->stop();
        m_animation->setStartValue(m_panel->geometry());
        m_animation->setEndValue(target);
        motion::configureEase(*m_animation, kFrameSeconds);
        m_animation->start();
    } else {
        setWindowFrame(target);
    }
}

void EdgePanelController::setMode(EdgePanelMode mode)
{
    ASSERT_MAIN_THREAD();
    if (mode == m_state.mode())
        return;
    m_state.setMode(mode, animationAllowed());
    applyFrame(animationAllowed());
    m_panel->raise();
}

void EdgePanelController::handleHover(bool inside)
{
    ASSERT_MAIN_THREAD();
    const EdgePanelMode current = m_state.mode();
    if (current == EdgePanelMode::cards) {
        setMode(EdgePanelMode::cards);
        return;
    }
    const bool over = inside || pointerOverPanelOrChild();
    setMode(over ? EdgePanelMode::rings : EdgePanelMode::strip);
}

void EdgePanelController::toggle()
{
    ASSERT_MAIN_THREAD();
    if (m_state.mode() != EdgePanelMode::cards) {
        setMode(EdgePanelMode::cards);
        return;
    }
    const std::optional<QRect> area = screenVisibleFrame();
    if (!area) {
        setMode(EdgePanelMode::strip);
        return;
    }
    const QRect rings = windowRect(layoutFrame(EdgePanelMode::rings, m_accountCount, QRectF(*area)));
    setMode(rings.contains(pointerLocation()) ? EdgePanelMode::rings : EdgePanelMode::strip);
}

void EdgePanelController::observeAccounts()
{
    ASSERT_MAIN_THREAD();
    if (m_isClosed)
        return;
    const int count = int(m_store.visibleProfiles().size());
    if (count == m_accountCount)
        return;
    m_accountCount = count;
    applyFrame(animationAllowed());
}

void EdgePanelController::screenParametersDidChange()
{
    applyFrame(false);
}

void EdgePanelController::popoverDidClose()
{
    handleHover(false);
}

void EdgePanelController::show()
{
    ASSERT_MAIN_THREAD();
    m_panel->show();
    m_panel->raise();
}

void EdgePanelController::updateFrame()
{
    applyFrame(false);
}

void EdgePanelController::close()
{
    ASSERT_MAIN_THREAD();
    m_isClosed = true;
    m_animation->stop();
    m_panel->close();
}
