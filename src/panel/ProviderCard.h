#pragma once

#include "DiagnosticDetails.h"
#include "ProviderCardModel.h"
#include "ProviderHeaderView.h"
#include "UsageWindowRowView.h"

#include <QWidget>

#include <functional>
#include <memory>

class CodexResetControl;
class Scheduler;
class UsageAccounts;

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
