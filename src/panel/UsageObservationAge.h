#pragma once

#include "platform/Timestamp.h"

#include <QLabel>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class Scheduler;

// A label whose text depends on the time and keeps itself current: it arms one
// timer for the next moment its text changes, and only while it is shown.
// Plain text with no font or colour of its own; the caller styles it.
class LiveTimeLabel : public QLabel {
    Q_OBJECT
public:
    using Wording = std::function<QString(Timestamp now)>;
    using NextChange = std::function<std::optional<Timestamp>(Timestamp now)>;

    // `scheduler` null: the application's timers on the system clock.
    explicit LiveTimeLabel(QWidget* parent = nullptr, Scheduler* scheduler = nullptr);
    ~LiveTimeLabel() override;

    // Shows `text` now and re-reads it at each moment `next` names.
    void setWording(Wording text, NextChange next);
    // "только что", "5 мин назад", ... since `date`.
    void showAgo(Timestamp date);
    // "через 2 ч 5 мин" until `target`, then how long ago it was.
    void showCountdown(Timestamp target);

    // When the armed timer fires; none while hidden or when the text no longer changes.
    std::optional<Timestamp> nextChange() const { return m_armedAt; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh(Timestamp reference);
    void arm(Timestamp reference);
    void disarm();

    Scheduler& m_scheduler;
    Wording m_text;
    NextChange m_next;
    std::optional<Timestamp> m_armedAt;
    std::uint64_t m_task = 0;
};

// How long ago a usage snapshot was taken: the caller's prefix, a blank and a
// short Russian age ("Обновлено 3 мин"). Counts seconds during the first
// minute after the observation, then steps once a minute.
class UsageObservationAgeLabel final : public LiveTimeLabel {
    Q_OBJECT
public:
    UsageObservationAgeLabel(Timestamp date, const QString& prefix, QWidget* parent = nullptr,
                             Scheduler* scheduler = nullptr);

    Timestamp date() const { return m_date; }
    QString prefix() const { return m_prefix; }
    void setDate(Timestamp date);
    void setPrefix(const QString& prefix);

    // The age from `date` to `reference`: "0 с", "59 мин", "1 ч 1 мин", "1 д 1 ч".
    static QString ageText(Timestamp date, Timestamp reference);
    // `prefix`, a blank and the age.
    static QString labelText(const QString& prefix, Timestamp date, Timestamp reference);

private:
    void rewire();

    Timestamp m_date;
    QString m_prefix;
};
