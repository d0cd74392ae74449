#pragma once

#include "KeyedWidgetList.h"
#include "platform/Timestamp.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QAbstractButton>
#include <QLocale>
#include <QPainterPath>
#include <QTimeZone>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class AccountsObserver;
class PanelLabel;
class PanelLayerEffect;
class PressFeedback;
class ProviderUsageBadge;
class QScrollArea;
class QVBoxLayout;
class Scheduler;
class UsageAccounts;

// What one row of the ring column shows, from the profile, its usage and the
// minute being shown.
struct CompactRowModel {
    QString profileID;
    UsageProvider provider = UsageProvider::codex;
    QString profileName;
    QString valueText;
    bool valueWarning = false; // panelWarning, else panelForeground
    int spacing = 7;           // between badge, value and name
    QString toolTip;           // provider word, " · ", name, a line break, the ring summary
    QString accessibleName;    // provider word, ", ", name
    QString accessibleValue;   // the ring summary, else the value text
    bool hasResetControl = false;
    // The value text reads the time (a spent limit's reset lies ahead): it
    // needs a redraw at the next minute boundary.
    bool dependsOnTime = false;

    static CompactRowModel of(const ProviderProfile& profile, const ProviderUsage& usage, Timestamp minute,
                              const QTimeZone& zone = QTimeZone::systemTimeZone(),
                              const QLocale& locale = QLocale());
    bool operator==(const CompactRowModel&) const = default;
};

namespace compactindicator {

// The reset time of the earliest exhausted limit while it lies ahead of
// `date`; else the whole highest percent; else "…" while loading, "!" after
// an error, "∞" for unlimited quotas, "—" otherwise.
QString valueText(const ProviderUsage& usage, Timestamp date, const QTimeZone& zone = QTimeZone::systemTimeZone(),
                  const QLocale& locale = QLocale());

// The minute boundary at or before `now`: the date a minute timeline shows.
Timestamp minuteOf(Timestamp now);

} // namespace compactindicator

// A button of the ring column: while pressed it shrinks to 0.975 about its
// centre and brightens by 0.06, springing in 0.14 s (at once under Reduce
// Motion). Its children are part of what it draws. A hit test, when given,
// narrows where it can be pressed.
class EdgePanelButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr qreal kPressedScale = 0.975;
    static constexpr qreal kPressedBrightness = 0.06;
    static constexpr double kResponse = 0.14;

    explicit EdgePanelButton(QWidget* parent = nullptr);

    // `inside` gets a point in global coordinates.
    void setHitArea(std::function<bool(const QPoint& global)> inside) { m_inside = std::move(inside); }
    PressFeedback& press() const { return *m_press; }
    // The layer drawing the pressed look; none while released.
    PanelLayerEffect* pressLayer() const;

protected:
    bool hitButton(const QPoint& pos) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    void pressChanged(qreal amount);

    PressFeedback* m_press;
    std::function<bool(const QPoint&)> m_inside;
};

// One account of the ring column: the usage badge, the value text and the
// profile name as one button; for Codex profiles the compact reset control
// sits on the badge's centre.
class CompactAccountRow final : public QWidget {
    Q_OBJECT
public:
    CompactAccountRow(UsageAccounts& accounts, const ProviderProfile& profile, std::function<void()> action,
                      QWidget* parent = nullptr);
    ~CompactAccountRow() override;

    void apply(const ProviderProfile& profile, const ProviderUsage& usage);
    const CompactRowModel& model() const { return m_model; }
    EdgePanelButton* button() const { return m_button; }
    PanelLabel* valueLabel() const { return m_value; }
    ProviderUsageBadge* badge() const { return m_badge; }
    // The compact reset control of a Codex profile.
    QWidget* resetControl() const { return m_reset; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void render();
    void arm();
    void disarm();
    void placeResetControl();

    UsageAccounts& m_accounts;
    ProviderProfile m_profile;
    ProviderUsage m_usage;
    CompactRowModel m_model;
    EdgePanelButton* m_button;
    QWidget* m_indicator;
    QVBoxLayout* m_stack;
    ProviderUsageBadge* m_badge;
    PanelLabel* m_value;
    PanelLabel* m_name;
    QWidget* m_reset = nullptr;
    std::uint64_t m_tick = 0;
};

// The hover presentation of the panel: a 70-point column of the visible
// accounts, Claude Code first, then Codex, Copilot and Antigravity, each a
// button that calls the panel's toggle, and a chevron below them. Without
// accounts, one button leads to the settings by the same toggle. Rows are
// kept by profile id across every change of the registry.
class CollapsedEdgeController final : public QWidget {
    Q_OBJECT
public:
    CollapsedEdgeController(UsageAccounts& accounts, std::function<void()> action, QWidget* parent = nullptr);
    ~CollapsedEdgeController() override;

    // Brings the rows in line with the registry now (it does so on its own on the next turn).
    void apply();

    // The column scrolls only when `availableHeight` is below what `profiles` rows need.
    static bool scrolls(double availableHeight, int profiles);
    // The outline the column is clipped to and hit-tested against, in its own coordinates.
    QPainterPath outline() const;

    CompactAccountRow* row(const QString& profileID) const;
    QStringList rowOrder() const { return m_rows->keys(); }
    int rowsBuilt() const { return m_rowsBuilt; }
    QScrollArea* scrollArea() const { return m_scroll; }
    QAbstractButton* chevron() const { return m_chevron; }
    QAbstractButton* emptyButton() const { return m_empty; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool insideOutline(const QPoint& global) const;
    void updateScrolling();

    UsageAccounts& m_accounts;
    std::function<void()> m_action;
    AccountsObserver* m_observer;
    QScrollArea* m_scroll;
    QVBoxLayout* m_list;
    std::unique_ptr<KeyedWidgetList> m_rows;
    QAbstractButton* m_empty;
    EdgePanelButton* m_chevron;
    int m_rowsBuilt = 0;
    int m_profiles = 0;
    bool m_stale = false;
};
