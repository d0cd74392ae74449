#include "UsageObservationAge.h"

#include "RelativeTime.h"
#include "platform/Scheduler.h"

#include <QShowEvent>

#include <algorithm>

namespace {

Scheduler& applicationScheduler()
{
    static QtScheduler* scheduler = new QtScheduler(); // lives as long as the process
    return *scheduler;
}

} // namespace

LiveTimeLabel::LiveTimeLabel(QWidget* parent, Scheduler* scheduler)
    : QLabel(parent), m_scheduler(scheduler ? *scheduler : applicationScheduler())
{
    setTextFormat(Qt::PlainText);
}

LiveTimeLabel::~LiveTimeLabel() { disarm(); }

void LiveTimeLabel::setWording(Wording text, NextChange next)
{
    m_text = std::move(text);
    m_next = std::move(next);
    const Timestamp now = m_scheduler.clock().now();
    refresh(now);
    disarm();
    if (isVisible())
        arm(now);
}

void LiveTimeLabel::showAgo(Timestamp date)
{
    setWording([date](Timestamp now) { return relativetime::agoText(date, now); },
               [date](Timestamp now) { return relativetime::nextAgoChange(date, now); });
}

void LiveTimeLabel::showCountdown(Timestamp target)
{
    setWording([target](Timestamp now) { return relativetime::countdownText(target, now); },
               [target](Timestamp now) { return relativetime::nextCountdownChange(target, now); });
}

void LiveTimeLabel::showEvent(QShowEvent* event)
{
    QLabel::showEvent(event);
    // Time went on while hidden.
    const Timestamp now = m_scheduler.clock().now();
    refresh(now);
    disarm();
    arm(now);
}

void LiveTimeLabel::hideEvent(QHideEvent* event)
{
    QLabel::hideEvent(event);
    disarm();
}

void LiveTimeLabel::refresh(Timestamp reference)
{
    if (m_text)
        setText(m_text(reference));
}

void LiveTimeLabel::arm(Timestamp reference)
{
    if (!m_next)
        return;
    const std::optional<Timestamp> at = m_next(reference);
    if (!at)
        return;
    m_armedAt = at;
    const double delay = std::max(0.0, at->secondsSince(m_scheduler.clock().now()));
    m_task = m_scheduler.schedule(delay, [this, tick = *at] {
        m_task = 0;
        m_armedAt.reset();
        // The text of the tick itself: a timer that fires a little early still shows the new text,
        // one that fires late (after a sleep) shows the text of now.
        const Timestamp reference = std::max(tick, m_scheduler.clock().now());
        refresh(reference);
        arm(reference);
    });
}

void LiveTimeLabel::disarm()
{
    if (m_task)
        m_scheduler.cancel(m_task);
    m_task = 0;
    m_armedAt.reset();
}

UsageObservationAgeLabel::UsageObservationAgeLabel(Timestamp date, const QString& prefix, QWidget* parent,
                                                   Scheduler* scheduler)
    : LiveTimeLabel(parent, scheduler), m_date(date), m_prefix(prefix)
{
    rewire();
}

void UsageObservationAgeLabel::setDate(Timestamp date)
{
    if (date == m_date)
        return;
    m_date = date;
    rewire();
}

void UsageObservationAgeLabel::setPrefix(const QString& prefix)
{
    if (prefix == m_prefix)
        return;
    m_prefix = prefix;
    rewire();
}

QString UsageObservationAgeLabel::ageText(Timestamp date, Timestamp reference)
{
    return relativetime::ageText(date, reference);
}

QString UsageObservationAgeLabel::labelText(const QString& prefix, Timestamp date, Timestamp reference)
{
    return prefix + QLatin1Char(' ') + ageText(date, reference);
}

void UsageObservationAgeLabel::rewire()
{
    setWording([date = m_date, prefix = m_prefix](Timestamp now) { return labelText(prefix, date, now); },
               [date = m_date](Timestamp now) { return relativetime::nextAgeTick(date, now); });
}
