#pragma once

#include "NumericTextMotion.h"
#include "ProviderCardModel.h"

#include <QWidget>

class LiveTimeLabel;
class Scheduler;
class UsageProgressBar;

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
