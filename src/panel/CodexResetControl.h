#pragma once

#include "CodexResetControlModel.h"
#include "PanelPopover.h"
#include "platform/CoalescedCall.h"
#include "providers/codex/CodexResetController.h"
#include "usage/ProviderProfile.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class UsageAccounts;

// The control through which the user spends a Codex reset credit, in its compact
// form (a 28-point icon button in a ring row) or its full form (credits, state
// line and button inside a card). Both open one confirmation popover that also
// shows the spend's progress, during which it cannot be dismissed, and its
// result. Every decision is the reset controller's; the control follows the
// controller, the registry and the profile's store, and redraws once per turn.
// The full form shows itself only while it has something to show; the compact
// form keeps its 28-point frame, empty when there is nothing to offer.
class CodexResetControl final : public QWidget {
    Q_OBJECT
public:
    using Confirmation = CodexResetController::Confirmation;

    static constexpr int kCompactSide = 28;
    static constexpr int kPopoverWidth = 300;

    CodexResetControl(UsageAccounts& accounts, ProviderProfile profile, bool compact, QWidget* parent = nullptr);
    ~CodexResetControl() override;

    const ProviderProfile& profile() const { return m_profile; }
    // The same profile renamed; another id is ignored.
    void setProfile(const ProviderProfile& profile);
    bool isCompact() const { return m_compact; }

    const CodexResetControlModel& model() const { return m_model; }
    const CodexResetPopoverModel& popoverModel() const { return m_popoverModel; }
    bool isPresented() const { return m_presented; }
    const std::optional<Confirmation>& confirmation() const { return m_confirmation; }
    const std::optional<QString>& message() const { return m_message; }
    // The popover, once it was first opened.
    PanelPopover* popover() const { return m_popover; }

    // Reads the registry now instead of on the next turn.
    void refresh();
    // What the offer buttons do: a confirmation from the controller, then the popover.
    void open();

    QSize sizeHint() const override;

signals:
    void presentedChanged(bool presented);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Compact;
    struct Full;
    struct Popover;

    void buildCompact();
    void buildFull();
    void buildPopover();
    void followStore();
    void render();
    void applyModel(const CodexResetControlModel& model);
    void applyPopover(const CodexResetPopoverModel& model);
    void confirm();
    void cancel();
    void finish();
    void popoverClosed();
    void refreshLimits();
    void placePopover();

    UsageAccounts& m_accounts;
    ProviderProfile m_profile;
    const bool m_compact;
    CoalescedCall m_call;
    QList<QMetaObject::Connection> m_storeConnections;

    bool m_presented = false;
    std::optional<Confirmation> m_confirmation;
    std::optional<QString> m_message;
    bool m_requestRunning = false;

    CodexResetControlModel m_model;
    CodexResetPopoverModel m_popoverModel;
    bool m_rendered = false;
    bool m_popoverRendered = false;

    std::unique_ptr<Compact> m_compactParts;
    std::unique_ptr<Full> m_fullParts;
    std::unique_ptr<Popover> m_popoverParts;
    QPointer<PanelPopover> m_popover;
};
