#pragma once

#include "KeyedWidgetList.h"
#include "platform/Timestamp.h"
#include "usage/ProviderProfile.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AccountsObserver;
class FeedbackController;
class LiveTimeLabel;
class PanelLabel;
class QAbstractButton;
class QScrollArea;
class QVBoxLayout;
class UsageAccounts;

// The one-line status of the whole set of accounts under the dashboard's title.
struct DashboardStatus {
    // The whole line; "Обновлено" when `updatedAt` is set, followed by the live time ago.
    QString text;
    std::optional<Timestamp> updatedAt;
    bool warning = false; // in panelWarning, else the secondary text colour

    // Connection errors first ("Восстановление подключения" while some usage
    // has a retry time, else "Есть ошибки подключения"), then the last update,
    // then "Лимиты AI-провайдеров".
    static DashboardStatus of(bool hasConnectionErrors, bool isRecoveringConnection,
                              std::optional<Timestamp> lastUpdated);
    bool operator==(const DashboardStatus&) const = default;
};

// What the dashboard shows of the registry.
struct DashboardModel {
    QList<ProviderProfile> profiles; // one card each, in this order
    bool isEmpty = true;             // no visible profile: the empty state instead of cards
    bool isRefreshing = false;       // the refresh button shows the spinner
    bool canRefresh = false;
    DashboardStatus status;

    static DashboardModel of(const UsageAccounts& accounts);
    bool operator==(const DashboardModel&) const = default;
};

// The cards presentation of the panel: a header with the title, the status
// line and the collapse and refresh buttons; one card per visible profile (or
// the empty state); a footer with "Настройки" and "Завершить". It follows the
// registry and its stores and redraws once per turn of the event loop; cards
// are kept by profile id, so what the user opened or selected in them stays.
class DashboardView final : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> collapse;     // the header's collapse button; none: no button
        std::function<void()> openSettings; // creates the settings window when none is known
        std::function<void()> quit;         // "Завершить"; none: the application quits
        FeedbackController* feedback = nullptr; // none: the shared one
    };

    DashboardView(UsageAccounts& accounts, Actions actions, QWidget* parent = nullptr);
    ~DashboardView() override;

    // Shows `model`: cards of new profiles are built, those of gone ones
    // dropped, the others updated in place. The view applies the registry's
    // model on its own on the turn after any change.
    void apply(const DashboardModel& model);
    const DashboardModel& model() const { return m_model; }

    // The card of a profile, while it is shown.
    QWidget* card(const QString& profileID) const { return m_cards->widget(profileID); }
    // How many card widgets were ever built.
    int cardsBuilt() const { return m_cardsBuilt; }
    QScrollArea* scrollArea() const { return m_scroll; }

    // The actions of the buttons.
    void showSettings();
    void refreshAll();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rerender();

    UsageAccounts& m_accounts;
    Actions m_actions;
    DashboardModel m_model;
    bool m_applied = false;
    bool m_stale = false;
    int m_cardsBuilt = 0;

    AccountsObserver* m_observer = nullptr;
    PanelLabel* m_statusText = nullptr;
    LiveTimeLabel* m_statusAge = nullptr;
    QAbstractButton* m_refresh = nullptr;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_list = nullptr;
    std::unique_ptr<KeyedWidgetList> m_cards;
    QWidget* m_emptyState = nullptr;
};
