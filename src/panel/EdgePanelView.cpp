#include "EdgePanelView.h"

#include "AccountsObserver.h"
#include "CollapsedEdgeController.h"
#include "EdgeStripView.h"
#include "Motion.h"
#include "PanelLayerEffect.h"
#include "PanelOutlineShape.h"
#include "PanelPalette.h"
#include "WindowShape.h"
#include "usage/UsageAccounts.h"

#include <QPainter>
#include <QRadialGradient>

namespace {

// The panel's background: its colour and, when tinted, a glow from the
// top-leading corner (250 points) and one from the bottom-trailing corner (240).
class PanelBackground final : public QWidget {
public:
    explicit PanelBackground(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TranslucentBackground); }

    void setTinted(bool tinted)
    {
        if (tinted == m_tinted)
            return;
        m_tinted = tinted;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRectF area = rect();
        p.fillRect(area, palette::color(PanelColor::panelBackground));
        if (!m_tinted)
            return;
        auto glow = [&](QPointF centre, qreal radius, PanelColor role) {
            QRadialGradient gradient(centre, radius);
            gradient.setColorAt(0, palette::color(role));
            gradient.setColorAt(1, Qt::transparent);
            p.fillRect(area, gradient);
        };
        glow(area.topLeft(), 250, PanelColor::panelTopGlow);
        glow(area.bottomRight(), 240, PanelColor::panelBottomGlow);
    }

private:
    bool m_tinted = false;
};

// The cards' outline stroke, drawn over the content.
class PanelBorder final : public QWidget {
public:
    explicit PanelBorder(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
    }

    void setOutline(const QPainterPath& outline, bool shown)
    {
        m_outline = outline;
        m_shown = shown;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_shown)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(palette::color(PanelColor::panelOutline), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(m_outline);
    }

private:
    QPainterPath m_outline;
    bool m_shown = false;
};

} // namespace

EdgePanelFrame EdgePanelFrame::of(EdgePanelMode mode, QSizeF window)
{
    EdgePanelFrame f;
    const QRectF whole(QPointF(), window);
    switch (mode) {
    case EdgePanelMode::strip: {
        const qreal width = std::min(kStripWidth, window.width());
        f.content = QRectF(window.width() - width, 0, width, window.height());
        const qreal radius = std::min(f.content.width(), f.content.height()) / 2;
        f.outline.addRoundedRect(f.content, radius, radius);
        break;
    }
    case EdgePanelMode::rings:
        f.content = whole;
        f.outline = PanelOutlineShape(PanelOutlineShape::kPanelRatio).path(whole);
        f.tinted = true;
        break;
    case EdgePanelMode::cards:
        f.content = whole;
        f.outline.addRoundedRect(whole, kCardsCornerRadius, kCardsCornerRadius);
        f.tinted = true;
        f.bordered = true;
        break;
    }
    return f;
}

EdgePanelTransition EdgePanelTransition::at(EdgePanelMode mode, qreal progress, qreal width)
{
    EdgePanelTransition t;
    t.opacity = progress;
    switch (mode) {
    case EdgePanelMode::strip: break;
    case EdgePanelMode::rings: t.scale = kRingsScale + (1 - kRingsScale) * progress; break;
    case EdgePanelMode::cards: t.offsetX = width * (1 - progress); break;
    }
    return t;
}

EdgePanelView::EdgePanelView(UsageAccounts& store, EdgePanelState& state, std::function<void()> onToggle,
                             Actions actions, QWidget* parent)
    : QWidget(parent),
      m_store(store),
      m_state(state),
      m_onToggle(std::move(onToggle)),
      m_actions(std::move(actions)),
      m_mode(state.mode())
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_host = new PanelBackground(this);
    m_clip = new PanelLayerEffect(this);
    m_host->setGraphicsEffect(m_clip);
    m_border = new PanelBorder(this);
    m_shape = new WindowShape(this);

    connect(&m_transition, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setProgress(value.toReal()); });
    connect(&m_transition, &QVariantAnimation::finished, this, &EdgePanelView::finishTransition);
    connect(&state, &EdgePanelState::modeChanged, this, &EdgePanelView::modeChanged);
    m_observer = new AccountsObserver(store, [this] { updateStrip(); }, this);

    content(m_mode)->show();
    layoutFrame();
}

EdgePanelView::~EdgePanelView() = default;

QWidget* EdgePanelView::content(EdgePanelMode mode)
{
    auto toggle = [this] {
        if (m_onToggle)
            m_onToggle();
    };
    QWidget* widget = nullptr;
    switch (mode) {
    case EdgePanelMode::strip:
        if (!m_strip) {
            m_strip = new EdgeStripView(m_host);
            connect(m_strip, &QAbstractButton::clicked, this, toggle);
        }
        widget = m_strip;
        updateStrip();
        break;
    case EdgePanelMode::rings:
        if (!m_rings)
            m_rings = new CollapsedEdgeController(m_store, toggle, m_host);
        widget = m_rings;
        break;
    case EdgePanelMode::cards:
        if (!m_dashboard) {
            DashboardView::Actions actions;
            actions.collapse = toggle;
            actions.openSettings = m_actions.openSettings;
            actions.quit = m_actions.quit;
            m_dashboard = new DashboardView(m_store, actions, m_host);
        }
        widget = m_dashboard;
        break;
    }
    widget->setGeometry(m_host->rect());
    return widget;
}

void EdgePanelView::updateStrip()
{
    // A hidden strip catches up when it is shown again (content() calls this).
    if (m_strip && (m_mode == EdgePanelMode::strip || m_strip->isVisible()))
        m_strip->setSegments(EdgeStripSegment::segments(m_store));
}

void EdgePanelView::modeChanged(EdgePanelMode mode)
{
    if (mode == m_mode)
        return;
    // A transition still running ends where it was going.
    if (m_transition.state() == QAbstractAnimation::Running) {
        m_transition.stop();
        finishTransition();
    }
    QWidget* from = content(m_mode);
    const EdgePanelMode fromMode = m_mode;
    m_mode = mode;
    layoutFrame(); // background, clip and border follow at once
    QWidget* to = content(mode);
    to->show();
    to->raise();

    motion::configureSpring(m_transition, motion::kPanelResponse);
    if (!m_state.changeAnimated() || m_transition.duration() <= 0) {
        from->hide();
        return;
    }
    m_outgoing = from;
    m_outgoingMode = fromMode;
    for (QWidget* w : {from, to})
        if (!qobject_cast<PanelLayerEffect*>(w->graphicsEffect()))
            w->setGraphicsEffect(new PanelLayerEffect);
    setProgress(0);
    m_transition.setStartValue(0.0);
    m_transition.setEndValue(1.0);
    m_transition.start();
}

void EdgePanelView::setProgress(qreal progress)
{
    const qreal width = m_host->width();
    auto place = [&](QWidget* w, EdgePanelMode mode, qreal p) {
        auto* layer = w ? qobject_cast<PanelLayerEffect*>(w->graphicsEffect()) : nullptr;
        if (!layer)
            return;
        const EdgePanelTransition t = EdgePanelTransition::at(mode, p, width);
        layer->setOpacity(t.opacity);
        layer->setScale(t.scale, QPointF(w->width(), w->height() / 2.0));
        layer->setOffsetX(t.offsetX);
    };
    place(m_outgoing, m_outgoingMode, 1 - progress);
    place(content(m_mode), m_mode, progress);
}

void EdgePanelView::finishTransition()
{
    if (m_outgoing) {
        m_outgoing->hide();
        m_outgoing->setGraphicsEffect(nullptr);
        m_outgoing = nullptr;
    }
    content(m_mode)->setGraphicsEffect(nullptr);
}

void EdgePanelView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutFrame();
}

void EdgePanelView::layoutFrame()
{
    m_frame = EdgePanelFrame::of(m_mode, size());
    m_host->setGeometry(m_frame.content.toAlignedRect());
    static_cast<PanelBackground*>(m_host)->setTinted(m_frame.tinted);
    m_clip->setClipPath(m_frame.outline.translated(-m_host->pos()));
    for (QWidget* w : {static_cast<QWidget*>(m_strip), static_cast<QWidget*>(m_rings),
                       static_cast<QWidget*>(m_dashboard)})
        if (w)
            w->setGeometry(m_host->rect());
    m_border->setGeometry(rect());
    static_cast<PanelBorder*>(m_border)->setOutline(m_frame.outline, m_frame.bordered);
    m_border->raise();
    m_shape->setOutline(m_frame.outline);
}

void EdgePanelView::paintEvent(QPaintEvent*)
{
    // Transparent outside the outline; the host draws the panel.
}
