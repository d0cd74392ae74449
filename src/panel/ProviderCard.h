#pragma once

#include "ProviderCardModel.h"

#include <QScrollArea>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class CodexResetControl;
class KeyedWidgetList;
class ProviderUsageBadge;
class QLabel;
class Scheduler;
class UsageAccounts;
class UsageProgressBar;
class LiveTimeLabel;
class PanelScrollIndicator;

// A figure that rolls to its new value, new digits coming in from below as when
// counting up, whichever way the value moved. Instant under Reduce Motion.
class NumericTextMotion final : public QObject {
    Q_OBJECT
public:
    explicit NumericTextMotion(QObject* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }
    // The text leaving, while the roll runs.
    const QString& previous() const { return m_previous; }
    // 0 ... 1 through the roll; 1 at rest.
    double progress() const;
    QVariantAnimation& animation() { return m_animation; }

    // Draws the text (and the one leaving) into `rect` with `flags`, clipped to it.
    void paint(QPainter& painter, const QRectF& rect, int flags) const;

signals:
    void changed();

private:
    QString m_text;
    QString m_previous;
    QVariantAnimation m_animation;
};

// The top row of a card: the usage badge, provider and profile names, maker
// and plan, and the highest used percent. One accessibility element.
class ProviderHeaderView final : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kSpacing = 12;
    static constexpr qreal kLineSpacing = 2;
    static constexpr qreal kMinimumGap = 8;

    explicit ProviderHeaderView(QWidget* parent = nullptr);

    void apply(const ProviderHeaderModel& model);
    const ProviderHeaderModel& model() const { return m_model; }
    ProviderUsageBadge* badge() const { return m_badge; }
    NumericTextMotion& peakMotion() { return *m_peak; }

    // Where the percent is drawn in a header `width` wide; empty without one.
    QRectF peakRect(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Lines;
    Lines lines(int width) const;
    qreal badgeSide() const;

    ProviderHeaderModel m_model;
    bool m_applied = false;
    ProviderUsageBadge* m_badge;
    NumericTextMotion* m_peak;
};

// The block of one limit window: title and percent, the bar, and the time to
// the automatic reset, which stays current on its own while shown.
class UsageWindowRowView final : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kSpacing = 7;

    // `scheduler` null: the application's timers (tests pass a virtual one).
    explicit UsageWindowRowView(QWidget* parent = nullptr, Scheduler* scheduler = nullptr);

    void apply(const UsageWindowRowModel& model);
    const UsageWindowRowModel& model() const { return m_model; }
    UsageProgressBar* bar() const { return m_bar; }
    LiveTimeLabel* resetLabel() const { return m_reset; }
    NumericTextMotion& percentMotion() { return *m_percent; }

private:
    class TitleLine;

    UsageWindowRowModel m_model;
    bool m_applied = false;
    TitleLine* m_title;
    UsageProgressBar* m_bar;
    LiveTimeLabel* m_reset;
    NumericTextMotion* m_percent;
};

// The error text inside a card: selectable plain text, as high as it wraps at
// the width it gets up to 120 points, scrolling beyond with a thin indicator.
class DiagnosticDetails final : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kMaximumHeight = 120;

    explicit DiagnosticDetails(QWidget* parent = nullptr);

    // Keeps a selection while the text stays the same.
    void setText(const QString& text);
    QString text() const;
    QLabel* label() const { return m_label; }
    // The scroll indicator's thumb; invalid while the text fits.
    QRect indicatorRect() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* m_label;
    PanelScrollIndicator* m_indicator;
};

// The card of one profile in the expanded panel. It shows one snapshot at a
// time (`apply`); a new snapshot updates its parts in place, so an open
// disclosure of the error details, a selection in them and the reset control's
// state survive every refresh.
class ProviderCard final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPadding = 18;
    static constexpr int kSpacing = 15;
    static constexpr qreal kCornerRadius = 22;

    // `accounts` is handed to the Codex reset control (none: no control);
    // `retryAction` runs from the refresh button (none: no button, whatever the model says).
    explicit ProviderCard(UsageAccounts* accounts = nullptr, std::function<void()> retryAction = {},
                          QWidget* parent = nullptr, Scheduler* scheduler = nullptr);
    ~ProviderCard() override;

    void apply(const ProviderCardModel& model);
    const ProviderCardModel& model() const { return m_model; }

    // Parts, for the dashboard and tests.
    ProviderHeaderView* header() const { return m_header; }
    CodexResetControl* resetControl() const { return m_reset; }
    DiagnosticDetails* details() const { return m_details; }
    bool isDetailsExpanded() const;
    void setDetailsExpanded(bool expanded);
    QWidget* refreshButton() const;
    // The row of a window, by window id, while it is shown.
    UsageWindowRowView* row(const QString& windowID) const;
    // How many row widgets were built so far.
    int rowsBuilt() const { return m_rowsBuilt; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Parts;

    void applyContent(const ProviderCardModel& model);
    void applyRows(const QList<UsageWindowRowModel>& rows);
    void applySections(const QList<ProviderCardModel::Section>& sections);
    void applyReset(const ProviderCardModel& model);

    UsageAccounts* m_accounts;
    std::function<void()> m_retry;
    Scheduler* m_scheduler;
    ProviderCardModel m_model;
    bool m_applied = false;
    int m_rowsBuilt = 0;

    std::unique_ptr<Parts> m_parts;
    ProviderHeaderView* m_header = nullptr;
    DiagnosticDetails* m_details = nullptr;
    CodexResetControl* m_reset = nullptr;
};
