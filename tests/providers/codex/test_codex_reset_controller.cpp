#include "support/TestSupport.h"
#include "providers/ProviderFixtures.h"
#include "providers/codex/CodexUsageFixtures.h"
#include "providers/codex/FakeCodexRig.h"
#include "platform/Defaults.h"
#include "platform/ForeignError.h"
#include "platform/Scheduler.h"
#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "platform/Workers.h"
#include "providers/codex/CodexResetController.h"
#include "providers/codex/CodexUsageClient.h"
#include "usage/ProviderClientError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <memory>

using Confirmation = CodexResetController::Confirmation;
using RecoveryGate = CodexResetController::RecoveryGate;

namespace {

// VirtualScheduler's default start.
const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);
const QString kAccount = QStringLiteral("acct-1");
const QString kOtherAccount = QStringLiteral("acct-2");

ProviderProfile codexProfile(const QString& folder, const QString& name = QStringLiteral("Codex"))
{
    ProviderProfile p;
    p.provider = UsageProvider::codex;
    p.configDirectory = folder;
    p.name = name;
    p.isVisible = true;
    return p;
}

using testsupport::limitWindow;

// A usage whose limit is spent and that may be offered a reset at kNow.
ProviderUsage exhausted(const QString& account = kAccount, Timestamp updatedAt = kNow.adding(-10))
{
    return fixtures::exhaustedCodex(account, updatedAt, kNow.adding(3600));
}

// The same account with its limits back.
ProviderUsage recovered(const QString& account = kAccount, Timestamp updatedAt = kNow)
{
    return fixtures::recoveredCodex(account, updatedAt);
}

QByteArray gateJson(const QString& account, double notBefore, std::optional<double> recoveredAt = std::nullopt)
{
    QJsonObject gate {{QStringLiteral("notBefore"), notBefore}};
    if (recoveredAt)
        gate.insert(QStringLiteral("recoveredAt"), *recoveredAt);
    return json::serialize(QJsonObject {{account, gate}});
}

QByteArray attemptJson(const QString& account, const QString& key)
{
    return json::serialize(QJsonObject {
        {account, QJsonObject {{QStringLiteral("accountID"), account}, {QStringLiteral("idempotencyKey"), key}}}});
}

// Distinct addresses standing for stores; the controller only hands them on.
UsageStore* fakeStore(int n)
{
    static char stores[8];
    return reinterpret_cast<UsageStore*>(&stores[n]);
}


using fakecodex::answer;
using fakecodex::kConsume;
using fakecodex::kReadLimits;
using fakecodex::outcomeAnswer;
using FakeCodexRig = fakecodex::Rig;

QJsonObject serverLimits(const QString& account = kAccount)
{
    return fakecodex::serverLimits(account);
}

struct HostCall {
    bool begin = false;
    std::optional<CodexResetResult> result;
    QList<UsageStore*> stores;
    QList<UsageStore*> sameAccount;
};

class FakeHost final : public CodexResetHost {
public:
    void beginCodexReset(const QList<UsageStore*>& stores) override { calls.append({true, std::nullopt, stores, {}}); }
    void finishCodexReset(const std::optional<CodexResetResult>& result, const QList<UsageStore*>& stores,
                          const QList<UsageStore*>& sameAccount) override
    {
        calls.append({false, result, stores, sameAccount});
    }
    QList<HostCall> calls;
};

// Defaults whose flush always fails (a full or read-only disk).
class UnflushableDefaults final : public Defaults {
public:
    void remove(const QString& key) override { m_values.remove(key); }
    bool flush() override { return false; }

protected:
    std::optional<QVariant> stored(const QString& key) const override
    {
        auto it = m_values.constFind(key);
        return it == m_values.constEnd() ? std::nullopt : std::optional(*it);
    }
    void store(const QString& key, const QVariant& value) override { m_values.insert(key, value); }

private:
    QVariantMap m_values;
};

struct ConsumerCall {
    QString profileID;
    CodexResetAttempt attempt;
    bool isRetry = false;
    Completion<CodexResetResult> done;
    QVariantMap persistedAtCall;   // what a crash at this moment would leave on disk
};

struct Delivery {
    std::optional<QString> message;
};

// One controller with a consumer that waits for the test to answer.
struct Harness {
    VirtualScheduler scheduler;
    std::unique_ptr<MemoryDefaults> defaults = std::make_unique<MemoryDefaults>();
    FakeHost host;
    QList<ConsumerCall> calls;
    std::unique_ptr<CodexResetController> controller;
    QList<UsageStore*> codexStores {fakeStore(0), fakeStore(1), fakeStore(2)};
    QList<UsageStore*> sameAccountStores {fakeStore(0), fakeStore(2)};
    int synchronousDeliveries = 0;

    Harness() { build(); }
    void build()
    {
        auto consumer = [this](const ProviderProfile& profile, const CodexResetAttempt& attempt, bool isRetry,
                               Completion<CodexResetResult> done) {
            calls.append({profile.id(), attempt, isRetry, std::move(done), defaults->persisted()});
        };
        controller = std::make_unique<CodexResetController>(*defaults, consumer, scheduler, &host);
    }
    // What a restarted process finds: only what was flushed.
    void restart()
    {
        controller.reset();
        defaults = defaults->restarted();
        build();
    }

    std::shared_ptr<Delivery> perform(const Confirmation& confirmation, const ProviderProfile& profile,
                                      const ProviderUsage& usage)
    {
        auto delivery = std::make_shared<Delivery>();
        controller->performReset(confirmation, profile, usage, codexStores, sameAccountStores,
                                 [delivery](Result<QString> r) { delivery->message = r.value(); });
        if (delivery->message)
            ++synchronousDeliveries;
        scheduler.drainPosted();
        return delivery;
    }
    void complete(qsizetype call, Result<CodexResetResult> result)
    {
        calls[call].done(std::move(result));
        scheduler.drainPosted();
    }
    void succeed(qsizetype call, CodexResetOutcome outcome, std::optional<ProviderUsage> usage)
    {
        complete(call, Result<CodexResetResult>::success({outcome, std::move(usage), std::nullopt}));
    }
    template <class E>
    void fail(qsizetype call, E error)
    {
        complete(call, Result<CodexResetResult>::failure(std::make_exception_ptr(std::move(error))));
    }
    // Confirms and performs for `profile`, answering with `outcome` at once.
    QString spend(const ProviderProfile& profile, const ProviderUsage& usage, CodexResetOutcome outcome,
                  std::optional<ProviderUsage> after)
    {
        auto confirmation = controller->makeConfirmation(profile, usage);
        if (!confirmation)
            return QStringLiteral("<no confirmation>");
        auto delivery = perform(*confirmation, profile, usage);
        if (calls.isEmpty())
            return delivery->message.value_or(QStringLiteral("<nothing>"));
        succeed(calls.size() - 1, outcome, std::move(after));
        return delivery->message.value_or(QStringLiteral("<nothing>"));
    }
    QVariantMap persistedState() const
    {
        QVariantMap out;
        for (const QString& key : {CodexResetController::kPendingKey, CodexResetController::kRecoveryKey})
            if (defaults->persisted().contains(key))
                out.insert(key, defaults->persisted().value(key));
        return out;
    }
};

using Tamper = std::function<void(Harness&, Confirmation&, ProviderProfile&, ProviderUsage&)>;
using Setup = std::function<void(Harness&)>;
using UsageChange = std::function<void(ProviderUsage&)>;

} // namespace

Q_DECLARE_METATYPE(Tamper)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(UsageChange)
Q_DECLARE_METATYPE(CodexResetOutcome)
Q_DECLARE_METATYPE(std::optional<ProviderUsage>)
Q_DECLARE_METATYPE(std::optional<RecoveryGate>)
Q_DECLARE_METATYPE(std::exception_ptr)

class TestCodexResetController : public QObject {
    Q_OBJECT

    std::unique_ptr<Harness> h;
    const ProviderProfile profileA = codexProfile(QStringLiteral("/home/u/.codex"), QStringLiteral("Личный"));
    const ProviderProfile profileB = codexProfile(QStringLiteral("/home/u/.codex-work"), QStringLiteral("Рабочий"));

    // Starts a spend for another account whose consumer never answers.
    static void occupy(Harness& harness)
    {
        const ProviderProfile other = codexProfile(QStringLiteral("/home/u/.codex-other"));
        const ProviderUsage usage = exhausted(kOtherAccount);
        auto confirmation = harness.controller->makeConfirmation(other, usage);
        Q_ASSERT(confirmation);
        harness.perform(*confirmation, other, usage);
    }

private slots:
    void init() { h = std::make_unique<Harness>(); }
    void cleanup()
    {
        QCOMPARE(h->synchronousDeliveries, 0);
        h.reset();
    }

    // The queries the card asks, and what a confirmation would be.
    void queries_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<UsageChange>("change");
        QTest::addColumn<bool>("canConfirm");
        QTest::addColumn<QString>("confirmation"); // "none", "new" or "retry"
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("awaiting");
        QTest::addColumn<bool>("busy");

        const Setup nothing = [](Harness&) {};
        const UsageChange same = [](ProviderUsage&) {};
        auto stored = [](QByteArray pending, QByteArray recovery) {
            return Setup([pending, recovery](Harness& harness) {
                if (!pending.isEmpty())
                    harness.defaults->setData(CodexResetController::kPendingKey, pending);
                if (!recovery.isEmpty())
                    harness.defaults->setData(CodexResetController::kRecoveryKey, recovery);
                harness.build();
            });
        };
        const double recoveredAt = kNow.adding(-100).sinceReference();

        QTest::newRow("eligible") << nothing << same << true << "new" << false << false << false;
        QTest::newRow("not eligible") << nothing << UsageChange([](ProviderUsage& u) { u.codexOrdinaryUsageAllowed = true; })
                                      << false << "none" << false << false << false;
        QTest::newRow("simulation") << nothing << UsageChange([](ProviderUsage& u) { u.isSimulation = true; })
                                    << false << "none" << false << false << false;
        QTest::newRow("not a simulation") << nothing << UsageChange([](ProviderUsage& u) { u.isSimulation = false; })
                                          << true << "new" << false << false << false;
        QTest::newRow("another account's spend runs") << Setup(&occupy) << same << false << "none" << false << false << false;
        QTest::newRow("another account's spend runs, own attempt pending")
            << Setup([&](Harness& harness) {
                   harness.defaults->setData(CodexResetController::kPendingKey, attemptJson(kAccount, "K"));
                   harness.build();
                   occupy(harness);
               })
            << same << false << "none" << true << false << false;
        QTest::newRow("pending attempt") << stored(attemptJson(kAccount, "K"), {}) << same << false << "retry" << true << false << false;
        QTest::newRow("pending attempt, usage not eligible")
            << stored(attemptJson(kAccount, "K"), {}) << UsageChange([](ProviderUsage& u) { u.isLoading = true; })
            << false << "retry" << true << false << false;
        QTest::newRow("pending attempt of another account") << stored(attemptJson(kOtherAccount, "K"), {}) << same << true << "new"
                                                            << false << false << false;
        QTest::newRow("waiting for recovery") << stored({}, gateJson(kAccount, kNow.adding(-500).sinceReference())) << same
                                              << false << "none" << false << true << false;
        QTest::newRow("recovered, blocked again later")
            << stored({}, gateJson(kAccount, kNow.adding(-500).sinceReference(), recoveredAt)) << same
            << true << "new" << false << false << false;
        QTest::newRow("recovered at the same instant")
            << stored({}, gateJson(kAccount, kNow.adding(-500).sinceReference(), kNow.adding(-10).sinceReference())) << same
            << false << "none" << false << false << false;
        QTest::newRow("recovered after this usage")
            << stored({}, gateJson(kAccount, kNow.adding(-500).sinceReference(), kNow.adding(-5).sinceReference())) << same
            << false << "none" << false << false << false;
        QTest::newRow("gate of another account") << stored({}, gateJson(kOtherAccount, kNow.sinceReference())) << same
                                                 << true << "new" << false << false << false;
        QTest::newRow("no account") << nothing << UsageChange([](ProviderUsage& u) { u.codexAccountID.reset(); })
                                    << false << "none" << false << false << false;
    }
    void queries()
    {
        QFETCH(Setup, setup);
        QFETCH(UsageChange, change);
        QFETCH(bool, canConfirm);
        QFETCH(QString, confirmation);
        QFETCH(bool, pending);
        QFETCH(bool, awaiting);
        QFETCH(bool, busy);

        setup(*h);
        ProviderUsage usage = exhausted();
        change(usage);
        QCOMPARE(h->controller->canConfirmReset(usage), canConfirm);
        QCOMPARE(h->controller->hasPendingAttempt(usage), pending);
        QCOMPARE(h->controller->isAwaitingRecovery(usage), awaiting);
        QCOMPARE(h->controller->isBusy(usage), busy);

        const auto made = h->controller->makeConfirmation(profileA, usage);
        QCOMPARE(made ? (made->isRetry ? "retry" : "new") : "none", confirmation);
        if (made) {
            QCOMPARE(made->profileID, profileA.id());
            QCOMPARE(made->accountID, kAccount);
            QVERIFY(!made->isSimulation);
            QCOMPARE(made->revision, 0);
            QVERIFY(!made->id.isNull());
            QCOMPARE(h->controller->confirmations().value(profileA.id()), made->id);
        }
    }

    void busyOnlyForTheRunningAccount()
    {
        QSignalSpy busySpy(h->controller.get(), &CodexResetController::busyAccountIDChanged);
        occupy(*h);
        QCOMPARE(h->controller->busyAccountID(), std::optional(kOtherAccount));
        QVERIFY(h->controller->isBusy(exhausted(kOtherAccount)));
        QVERIFY(!h->controller->isBusy(exhausted(kAccount)));
        QVERIFY(!h->controller->makeConfirmation(profileA, exhausted()));
        QCOMPARE(busySpy.count(), 1);

        h->succeed(0, CodexResetOutcome::noCredit, std::nullopt);
        QCOMPARE(h->controller->busyAccountID(), std::nullopt);
        QCOMPARE(busySpy.count(), 2);
        // Clearing an absent account is silent.
        auto confirmation = h->controller->makeConfirmation(profileA, exhausted());
        confirmation->revision = 1;
        h->perform(*confirmation, profileA, exhausted());
        QCOMPARE(busySpy.count(), 2);
    }

    void confirmationsAreOnePerProfile()
    {
        QSignalSpy spy(h->controller.get(), &CodexResetController::confirmationsChanged);
        QVERIFY(!h->controller->makeConfirmation(
            ProviderProfile {UsageProvider::claude, QStringLiteral("/home/u/.claude"), QStringLiteral("C"), true, {}, {}},
            exhausted()));
        const auto older = h->controller->makeConfirmation(profileA, exhausted());
        const auto newer = h->controller->makeConfirmation(profileA, exhausted());
        const auto other = h->controller->makeConfirmation(profileB, exhausted());
        QVERIFY(older && newer && other);
        QVERIFY(older->id != newer->id);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(h->controller->confirmations().size(), 2);

        // Discarding the older one leaves the newer one registered.
        h->controller->discardConfirmation(older);
        h->controller->discardConfirmation(std::nullopt);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(h->controller->confirmations().value(profileA.id()), newer->id);

        // The older one can no longer be performed; the newer one can, once.
        QCOMPARE(h->perform(*older, profileA, exhausted())->message, std::optional(CodexResetController::kRefusedMessage));
        QVERIFY(h->calls.isEmpty());
        auto first = h->perform(*newer, profileA, exhausted());
        QCOMPARE(h->calls.size(), 1);
        QVERIFY(!h->controller->confirmations().contains(profileA.id()));
        QCOMPARE(h->controller->confirmations().value(profileB.id()), other->id);
        h->succeed(0, CodexResetOutcome::nothingToReset, exhausted());
        QVERIFY(first->message);
        QCOMPARE(h->perform(*newer, profileA, exhausted())->message, std::optional(CodexResetController::kRefusedMessage));
        QCOMPARE(h->calls.size(), 1);

        // Discarding the current one removes it.
        h->controller->discardConfirmation(other);
        QVERIFY(h->controller->confirmations().isEmpty());
    }

    // Every refusal sends nothing and changes nothing.
    void refusals_data()
    {
        QTest::addColumn<Tamper>("tamper");
        auto add = [](const char* name, Tamper tamper) { QTest::newRow(name) << tamper; };
        add("a spend already runs", [](Harness& harness, Confirmation&, ProviderProfile&, ProviderUsage&) { occupy(harness); });
        add("another profile", [this](Harness&, Confirmation&, ProviderProfile& p, ProviderUsage&) { p = profileB; });
        add("not a Codex profile", [](Harness&, Confirmation& c, ProviderProfile& p, ProviderUsage&) {
            p.provider = UsageProvider::claude;
            c.profileID = p.id();
        });
        add("confirmation not registered", [](Harness&, Confirmation& c, ProviderProfile&, ProviderUsage&) {
            c.id = QUuid::createUuid();
        });
        add("confirmation discarded", [](Harness& harness, Confirmation& c, ProviderProfile&, ProviderUsage&) {
            harness.controller->discardConfirmation(c);
        });
        add("confirmation replaced", [](Harness& harness, Confirmation&, ProviderProfile& p, ProviderUsage& u) {
            harness.controller->makeConfirmation(p, u);
        });
        add("usage without account", [](Harness&, Confirmation&, ProviderProfile&, ProviderUsage& u) { u.codexAccountID.reset(); });
        add("another account", [](Harness&, Confirmation&, ProviderProfile&, ProviderUsage& u) { u.codexAccountID = kOtherAccount; });
        add("confirmation of another account", [](Harness&, Confirmation& c, ProviderProfile&, ProviderUsage&) {
            c.accountID = kOtherAccount;
        });
        add("simulation", [](Harness&, Confirmation& c, ProviderProfile&, ProviderUsage&) { c.isSimulation = true; });
        add("revision", [](Harness&, Confirmation& c, ProviderProfile&, ProviderUsage&) { c.revision = 1; });
        add("retry without a pending attempt", [](Harness&, Confirmation& c, ProviderProfile&, ProviderUsage&) { c.isRetry = true; });
        add("new spend, data changed", [](Harness&, Confirmation&, ProviderProfile&, ProviderUsage& u) {
            u.codexOrdinaryUsageAllowed = true;
        });
        add("new spend, usage is a simulation", [](Harness&, Confirmation&, ProviderProfile&, ProviderUsage& u) {
            u.isSimulation = true;
        });
        add("new spend, another profile's attempt pending", [this](Harness& harness, Confirmation&, ProviderProfile&, ProviderUsage& u) {
            auto other = harness.controller->makeConfirmation(profileB, u);
            harness.perform(*other, profileB, u);
            harness.fail(0, ProviderClientError::timedOut(QStringLiteral("нет ответа")));
            harness.calls.clear();
            harness.host.calls.clear();
        });
    }
    void refusals()
    {
        QFETCH(Tamper, tamper);
        ProviderProfile profile = profileA;
        ProviderUsage usage = exhausted();
        auto confirmation = h->controller->makeConfirmation(profile, usage);
        QVERIFY(confirmation);
        tamper(*h, *confirmation, profile, usage);

        const auto busy = h->controller->busyAccountID();
        const auto attempts = h->controller->attempts();
        const auto gates = h->controller->recoveryGates();
        const auto confirmations = h->controller->confirmations();
        const auto stored = h->defaults->values();
        const auto calls = h->calls.size();
        const auto hostCalls = h->host.calls.size();
        QSignalSpy busySpy(h->controller.get(), &CodexResetController::busyAccountIDChanged);
        QSignalSpy attemptsSpy(h->controller.get(), &CodexResetController::attemptsChanged);
        QSignalSpy confirmationsSpy(h->controller.get(), &CodexResetController::confirmationsChanged);

        QCOMPARE(h->perform(*confirmation, profile, usage)->message, std::optional(CodexResetController::kRefusedMessage));
        QCOMPARE(h->calls.size(), calls);
        QCOMPARE(h->host.calls.size(), hostCalls);
        QCOMPARE(h->controller->busyAccountID(), busy);
        QCOMPARE(h->controller->attempts(), attempts);
        QCOMPARE(h->controller->recoveryGates(), gates);
        QCOMPARE(h->controller->confirmations(), confirmations);
        QCOMPARE(h->defaults->values(), stored);
        QCOMPARE(busySpy.count() + attemptsSpy.count() + confirmationsSpy.count(), 0);
    }

    // A new spend stores a fresh key on disk before the consumer runs.
    void keyIsOnDiskBeforeTheSpend()
    {
        QSignalSpy attemptsSpy(h->controller.get(), &CodexResetController::attemptsChanged);
        auto confirmation = h->controller->makeConfirmation(profileA, exhausted());
        h->perform(*confirmation, profileA, exhausted());
        QCOMPARE(h->calls.size(), 1);
        const ConsumerCall& call = h->calls.first();
        QCOMPARE(call.profileID, profileA.id());
        QVERIFY(!call.isRetry);
        QCOMPARE(call.attempt.accountID, kAccount);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(call.attempt.idempotencyKey).hasMatch());
        QCOMPARE(call.persistedAtCall.value(CodexResetController::kPendingKey).toByteArray(),
                 attemptJson(kAccount, call.attempt.idempotencyKey));
        QCOMPARE(attemptsSpy.count(), 1);
        // The stores are paused before the spend.
        QCOMPARE(h->host.calls.size(), 1);
        QVERIFY(h->host.calls.first().begin);
        QCOMPARE(h->host.calls.first().stores, h->codexStores);
        QCOMPARE(h->controller->busyAccountID(), std::optional(kAccount));
    }

    void successOutcomes_data()
    {
        QTest::addColumn<CodexResetOutcome>("outcome");
        QTest::addColumn<std::optional<ProviderUsage>>("after");
        QTest::addColumn<QString>("message");
        QTest::addColumn<std::optional<RecoveryGate>>("gate");

        const QString waiting = CodexResetController::kAwaitingRecoverySuffix;
        const ProviderUsage stillSpent = exhausted(kAccount, kNow.adding(-2));
        const ProviderUsage back = recovered(kAccount, kNow.adding(-1));
        auto row = [](const char* name, CodexResetOutcome outcome, std::optional<ProviderUsage> after, QString message,
                      std::optional<RecoveryGate> gate) { QTest::newRow(name) << outcome << after << message << gate; };

        row("reset, limits not back yet", CodexResetOutcome::reset, stillSpent, "Сброс использован." + waiting,
            RecoveryGate {kNow.adding(-2), std::nullopt});
        row("reset, limits back at once", CodexResetOutcome::reset, back, "Сброс использован. Лимиты обновлены.",
            RecoveryGate {kNow.adding(-1), kNow.adding(-1)});
        row("reset, re-read failed", CodexResetOutcome::reset, std::nullopt, "Сброс использован." + waiting,
            RecoveryGate {kNow, std::nullopt});
        row("already redeemed, limits back", CodexResetOutcome::alreadyRedeemed, back,
            "Этот сброс уже был выполнен. Второй не списан. Лимиты обновлены.", RecoveryGate {kNow.adding(-1), kNow.adding(-1)});
        row("already redeemed, re-read failed", CodexResetOutcome::alreadyRedeemed, std::nullopt,
            "Этот сброс уже был выполнен. Второй не списан." + waiting, RecoveryGate {kNow, std::nullopt});
        row("nothing to reset", CodexResetOutcome::nothingToReset, stillSpent,
            "Сброс не нужен: подходящий лимит уже доступен. Лимиты обновлены.", std::nullopt);
        row("no credit, nothing re-read", CodexResetOutcome::noCredit, std::nullopt,
            "Доступных сбросов больше нет. Лимиты пока не обновлены.", std::nullopt);
    }
    void successOutcomes()
    {
        QFETCH(CodexResetOutcome, outcome);
        QFETCH(std::optional<ProviderUsage>, after);
        QFETCH(QString, message);
        QFETCH(std::optional<RecoveryGate>, gate);

        // An older gate whose limits came back: a spend that takes effect replaces it.
        h->defaults->setData(CodexResetController::kRecoveryKey, gateJson(kAccount, kNow.adding(-9000).sinceReference(),
                                                                          kNow.adding(-8000).sinceReference()));
        h->build();
        const RecoveryGate older = h->controller->recoveryGates().value(kAccount);
        QSignalSpy gatesSpy(h->controller.get(), &CodexResetController::recoveryGatesChanged);

        QCOMPARE(h->spend(profileA, exhausted(), outcome, after), message);
        QVERIFY(h->controller->attempts().isEmpty());
        QCOMPARE(h->controller->busyAccountID(), std::nullopt);
        const RecoveryGate expected = gate.value_or(older);
        QCOMPARE(h->controller->recoveryGates().value(kAccount), expected);
        QCOMPARE(gatesSpy.count(), gate ? (gate->recoveredAt ? 2 : 1) : 0);

        // The host got the result for the same-account stores.
        QCOMPARE(h->host.calls.size(), 2);
        const HostCall& finish = h->host.calls.last();
        QVERIFY(!finish.begin);
        QCOMPARE(finish.result, std::optional(CodexResetResult {outcome, after, std::nullopt}));
        QCOMPARE(finish.stores, h->codexStores);
        QCOMPARE(finish.sameAccount, h->sameAccountStores);

        // What is on disk is what a restart finds.
        h->restart();
        QVERIFY(h->controller->attempts().isEmpty());
        QCOMPARE(h->controller->recoveryGates().value(kAccount), expected);
    }

    void failureKeepsTheAttempt_data()
    {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<QString>("detail");
        const QString secret = QStringLiteral("Bearer abcdefghijklmnopqrstuvwxyz0123456789");
        QTest::newRow("timeout with a token")
            << std::make_exception_ptr(ProviderClientError::timedOut("account/rateLimitResetCredit/consume: нет ответа за 20 с.\n" + secret))
            << QStringLiteral("account/rateLimitResetCredit/consume: нет ответа за 20 с.\n[redacted]");
        QTest::newRow("long server error")
            << std::make_exception_ptr(ProviderClientError::requestFailed(QString(9000, QLatin1Char('x'))))
            << QString(8192, QLatin1Char('x'));
        QTest::newRow("platform error")
            << std::make_exception_ptr(ForeignError(ForeignError::kPosixDomain, 32, QStringLiteral("Broken pipe")))
            << QStringLiteral("Broken pipe");
    }
    void failureKeepsTheAttempt()
    {
        QFETCH(std::exception_ptr, error);
        QFETCH(QString, detail);

        auto confirmation = h->controller->makeConfirmation(profileA, exhausted());
        auto delivery = h->perform(*confirmation, profileA, exhausted());
        const CodexResetAttempt attempt = h->calls.first().attempt;
        h->complete(0, Result<CodexResetResult>::failure(error));
        QCOMPARE(delivery->message, std::optional(CodexResetController::kUnconfirmedMessage + "\n" + detail));
        QCOMPARE(h->controller->attempts().value(kAccount), attempt);
        QCOMPARE(h->controller->busyAccountID(), std::nullopt);
        QVERIFY(h->controller->recoveryGates().isEmpty());
        QCOMPARE(h->host.calls.size(), 2);
        QCOMPARE(h->host.calls.last().result, std::nullopt);
        QCOMPARE(h->host.calls.last().sameAccount, h->sameAccountStores);

        // The next confirmation repeats the same key, even when the limits no longer look spent.
        auto retry = h->controller->makeConfirmation(profileA, recovered());
        QVERIFY(retry && retry->isRetry);
        h->perform(*retry, profileA, recovered());
        QCOMPARE(h->calls.size(), 2);
        QCOMPARE(h->calls.last().attempt, attempt);
        QVERIFY(h->calls.last().isRetry);
        h->succeed(1, CodexResetOutcome::alreadyRedeemed, recovered());
        QVERIFY(h->controller->attempts().isEmpty());
    }

    // A consumer that throws instead of completing counts as a failure.
    void throwingConsumer()
    {
        int calls = 0;
        CodexResetController controller(*h->defaults, [&](const ProviderProfile&, const CodexResetAttempt&, bool,
                                                          Completion<CodexResetResult>) {
            ++calls;
            throw ProviderClientError::executableMissing(QStringLiteral("Codex CLI не найден."));
        }, h->scheduler, &h->host);
        auto confirmation = controller.makeConfirmation(profileA, exhausted());
        std::optional<QString> message;
        controller.performReset(*confirmation, profileA, exhausted(), {}, {}, [&](Result<QString> r) { message = r.value(); });
        QCOMPARE(message, std::nullopt);
        h->scheduler.drainPosted();
        QCOMPARE(calls, 1);
        QCOMPARE(message, std::optional(CodexResetController::kUnconfirmedMessage + "\nCodex CLI не найден."));
        QVERIFY(controller.hasPendingAttempt(exhausted()));
        QCOMPARE(controller.busyAccountID(), std::nullopt);
    }

    // Without the key on disk nothing is sent.
    void unflushableKeyIsNotSent()
    {
        UnflushableDefaults defaults;
        int calls = 0;
        CodexResetController controller(defaults, [&](const ProviderProfile&, const CodexResetAttempt&, bool,
                                                      Completion<CodexResetResult>) { ++calls; }, h->scheduler, &h->host);
        auto confirmation = controller.makeConfirmation(profileA, exhausted());
        std::optional<QString> message;
        controller.performReset(*confirmation, profileA, exhausted(), {}, {}, [&](Result<QString> r) { message = r.value(); });
        h->scheduler.drainPosted();
        QCOMPARE(message, std::optional(CodexResetController::kNotSavedMessage));
        QCOMPARE(calls, 0);
        QVERIFY(h->host.calls.isEmpty());
        QVERIFY(controller.attempts().isEmpty());
        QCOMPARE(controller.busyAccountID(), std::nullopt);
        QVERIFY(controller.canConfirmReset(exhausted()));
    }

    void reconcile_data()
    {
        QTest::addColumn<UsageChange>("change");
        QTest::addColumn<bool>("proves");
        const Timestamp notBefore = kNow.adding(-30);
        auto add = [](const char* name, UsageChange change, bool proves) { QTest::newRow(name) << change << proves; };
        add("limits back", [](ProviderUsage&) {}, true);
        add("simulation", [](ProviderUsage& u) { u.isSimulation = true; }, false);
        add("loading", [](ProviderUsage& u) { u.isLoading = true; }, false);
        add("error message", [](ProviderUsage& u) { u.errorMessage = QStringLiteral("x"); }, false);
        add("stale", [](ProviderUsage& u) { u.isStale = true; }, false);
        add("no account", [](ProviderUsage& u) { u.codexAccountID.reset(); }, false);
        add("account without a gate", [](ProviderUsage& u) { u.codexAccountID = kOtherAccount; }, false);
        add("never updated", [](ProviderUsage& u) { u.updatedAt.reset(); }, false);
        add("older than the spend", [notBefore](ProviderUsage& u) { u.updatedAt = notBefore.adding(-0.001); }, false);
        add("as old as the spend", [notBefore](ProviderUsage& u) { u.updatedAt = notBefore; }, true);
        add("ordinary usage unknown", [](ProviderUsage& u) { u.codexOrdinaryUsageAllowed.reset(); }, false);
        add("ordinary usage blocked", [](ProviderUsage& u) { u.codexOrdinaryUsageAllowed = false; }, false);
        add("a Codex window still spent", [](ProviderUsage& u) { u.windows.append(limitWindow("codex-secondary", 100.0, kNow.adding(-5))); }, false);
        add("another limit spent", [](ProviderUsage& u) { u.windows.append(limitWindow("gpt-primary", 100.0)); }, true);
    }
    void reconcile()
    {
        QFETCH(UsageChange, change);
        QFETCH(bool, proves);
        const Timestamp notBefore = kNow.adding(-30);
        h->defaults->setData(CodexResetController::kRecoveryKey, gateJson(kAccount, notBefore.sinceReference()));
        h->defaults->flush();
        h->build();
        QSignalSpy spy(h->controller.get(), &CodexResetController::recoveryGatesChanged);

        ProviderUsage usage = recovered(kAccount, kNow.adding(-20));
        change(usage);
        h->scheduler.advance(500); // the gate records the data's time, not the clock's
        h->controller->reconcile(usage);
        const RecoveryGate gate = h->controller->recoveryGates().value(kAccount);
        QCOMPARE(gate.notBefore, notBefore);
        QCOMPARE(gate.recoveredAt, proves ? usage.updatedAt : std::nullopt);
        QCOMPARE(spy.count(), proves ? 1 : 0);
        h->restart();
        QCOMPARE(h->controller->recoveryGates().value(kAccount), gate);

        // Once recovered, later data changes nothing.
        if (proves) {
            h->controller->reconcile(recovered(kAccount, kNow.adding(100)));
            QCOMPARE(h->controller->recoveryGates().value(kAccount).recoveredAt, usage.updatedAt);
        }
    }

    // The stored forms, exactly.
    void storedForm()
    {
        auto confirmation = h->controller->makeConfirmation(profileA, exhausted());
        h->perform(*confirmation, profileA, exhausted());
        const QString key = h->calls.first().attempt.idempotencyKey;
        QCOMPARE(json::parseObject(h->defaults->persisted().value(CodexResetController::kPendingKey).toByteArray()),
                 (QJsonObject {{kAccount, QJsonObject {{"accountID", kAccount}, {"idempotencyKey", key}}}}));
        h->succeed(0, CodexResetOutcome::reset, exhausted(kAccount, kNow.adding(-1.25)));
        QCOMPARE(json::parseObject(h->defaults->persisted().value(CodexResetController::kPendingKey).toByteArray()), QJsonObject());
        QCOMPARE(json::parseObject(h->defaults->persisted().value(CodexResetController::kRecoveryKey).toByteArray()),
                 (QJsonObject {{kAccount, QJsonObject {{"notBefore", kNow.sinceReference() - 1.25}}}}));
        h->controller->reconcile(recovered(kAccount, kNow.adding(7.5)));
        QCOMPARE(json::parseObject(h->defaults->persisted().value(CodexResetController::kRecoveryKey).toByteArray()),
                 (QJsonObject {{kAccount, QJsonObject {{"notBefore", kNow.sinceReference() - 1.25},
                                                       {"recoveredAt", kNow.sinceReference() + 7.5}}}}));
        // Seconds since 2001, as stored by the platform coders.
        QCOMPARE(kNow.sinceReference(), 1'800'000'000.0 - 978'307'200.0);
    }

    // A stored value that cannot be read as a whole: an empty map, and the value kept aside.
    void corruptStoredData_data()
    {
        QTest::addColumn<QVariant>("pending");
        QTest::addColumn<QVariant>("recovery");
        QTest::addColumn<QByteArray>("earlierBackup");   // already under the pending backup key
        QTest::addColumn<bool>("attemptsKept");
        QTest::addColumn<bool>("gatesKept");
        QTest::addColumn<QVariant>("pendingBackup");    // invalid: no backup
        QTest::addColumn<QVariant>("recoveryBackup");
        const QVariant goodPending = attemptJson(kAccount, "K");
        const QVariant goodRecovery = gateJson(kAccount, 5);
        const QVariant none;
        const QByteArray notJson("{\"acct-1\":");
        const QByteArray dateAsText(R"({"acct-1":{"notBefore":"2026-01-01"}})");
        const QByteArray noNotBefore(R"({"acct-1":{"recoveredAt":3}})");
        QTest::newRow("both good") << goodPending << goodRecovery << QByteArray() << true << true << none << none;
        QTest::newRow("missing") << none << none << QByteArray() << false << false << none << none;
        QTest::newRow("not JSON") << QVariant(notJson) << goodRecovery << QByteArray() << false << true << QVariant(notJson)
                                  << none;
        QTest::newRow("an array") << QVariant(QByteArray("[]")) << goodRecovery << QByteArray() << false << true
                                  << QVariant(QByteArray("[]")) << none;
        QTest::newRow("text, not data") << QVariant(QString::fromLatin1(goodPending.toByteArray())) << goodRecovery
                                        << QByteArray() << false << true << goodPending << none;
        QTest::newRow("gate date as text") << goodPending << QVariant(dateAsText) << QByteArray() << true << false << none
                                           << QVariant(dateAsText);
        QTest::newRow("gate without notBefore") << goodPending << QVariant(noNotBefore) << QByteArray() << true << false
                                                << none << QVariant(noNotBefore);
        QTest::newRow("an earlier backup is never overwritten")
            << QVariant(notJson) << goodRecovery << QByteArray("first damage") << false << true
            << QVariant(QByteArray("first damage")) << none;
    }
    void corruptStoredData()
    {
        QFETCH(QVariant, pending);
        QFETCH(QVariant, recovery);
        QFETCH(QByteArray, earlierBackup);
        QFETCH(bool, attemptsKept);
        QFETCH(bool, gatesKept);
        QFETCH(QVariant, pendingBackup);
        QFETCH(QVariant, recoveryBackup);
        QVariantMap stored;
        if (pending.isValid())
            stored.insert(CodexResetController::kPendingKey, pending);
        if (recovery.isValid())
            stored.insert(CodexResetController::kRecoveryKey, recovery);
        if (!earlierBackup.isEmpty())
            stored.insert(CodexResetController::kPendingBackupKey, earlierBackup);
        MemoryDefaults defaults(stored);
        CodexResetController controller(defaults, {}, h->scheduler);
        QCOMPARE(controller.attempts().size(), attemptsKept ? 1 : 0);
        QCOMPARE(controller.recoveryGates().size(), gatesKept ? 1 : 0);
        if (attemptsKept)
            QCOMPARE(controller.attempts().value(kAccount), (CodexResetAttempt {kAccount, "K"}));
        if (gatesKept)
            QCOMPARE(controller.recoveryGates().value(kAccount), (RecoveryGate {Timestamp::fromSinceReference(5), std::nullopt}));
        QCOMPARE(controller.busyAccountID(), std::nullopt);
        QVERIFY(controller.confirmations().isEmpty());
        QCOMPARE(defaults.values().value(CodexResetController::kPendingBackupKey), pendingBackup);
        QCOMPARE(defaults.values().value(CodexResetController::kRecoveryBackupKey), recoveryBackup);
    }

    // One damaged entry beside a good one: only the damaged one goes, the good
    // attempt keeps its key, and the stored value is kept aside until the
    // cleaned map replaces it.
    void damagedNeighbour_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QJsonValue>("neighbour");
        const QString pending = CodexResetController::kPendingKey;
        const QString recovery = CodexResetController::kRecoveryKey;
        auto attempt = [](QJsonValue account, QJsonValue key) {
            return QJsonObject {{"accountID", account}, {"idempotencyKey", key}};
        };
        QTest::newRow("attempt: a number") << pending << kOtherAccount << QJsonValue(7);
        QTest::newRow("attempt: null") << pending << kOtherAccount << QJsonValue(QJsonValue::Null);
        QTest::newRow("attempt: text") << pending << kOtherAccount << QJsonValue("K2");
        QTest::newRow("attempt: a list") << pending << kOtherAccount << QJsonValue(QJsonArray {kOtherAccount, "K2"});
        QTest::newRow("attempt without key") << pending << kOtherAccount << QJsonValue(QJsonObject {{"accountID", kOtherAccount}});
        QTest::newRow("attempt without account") << pending << kOtherAccount << QJsonValue(QJsonObject {{"idempotencyKey", "K2"}});
        QTest::newRow("attempt with an empty key") << pending << kOtherAccount << QJsonValue(attempt(kOtherAccount, ""));
        QTest::newRow("attempt under an empty account") << pending << QString() << QJsonValue(attempt("", "K2"));
        QTest::newRow("attempt filed under another account") << pending << kOtherAccount << QJsonValue(attempt("acct-3", "K2"));
        QTest::newRow("attempt claiming the good account") << pending << kOtherAccount << QJsonValue(attempt(kAccount, "K2"));
        QTest::newRow("attempt key of the wrong type") << pending << kOtherAccount << QJsonValue(attempt(kOtherAccount, 7));
        QTest::newRow("attempt account of the wrong type") << pending << kOtherAccount << QJsonValue(attempt(true, "K2"));
        QTest::newRow("gate: a number") << recovery << kOtherAccount << QJsonValue(5);
        QTest::newRow("gate: null") << recovery << kOtherAccount << QJsonValue(QJsonValue::Null);
        QTest::newRow("gate: text") << recovery << kOtherAccount << QJsonValue("5");
        QTest::newRow("gate date as text") << recovery << kOtherAccount << QJsonValue(QJsonObject {{"notBefore", "2026-01-01"}});
        QTest::newRow("gate without notBefore") << recovery << kOtherAccount << QJsonValue(QJsonObject {{"recoveredAt", 3}});
        QTest::newRow("gate recovery as text") << recovery << kOtherAccount
                                               << QJsonValue(QJsonObject {{"notBefore", 5}, {"recoveredAt", "later"}});
        QTest::newRow("gate under an empty account") << recovery << QString() << QJsonValue(QJsonObject {{"notBefore", 5}});
    }
    void damagedNeighbour()
    {
        QFETCH(QString, key);
        QFETCH(QString, account);
        QFETCH(QJsonValue, neighbour);
        const bool inPending = key == CodexResetController::kPendingKey;
        const QString backupKey = inPending ? CodexResetController::kPendingBackupKey : CodexResetController::kRecoveryBackupKey;
        const QString otherBackupKey = inPending ? CodexResetController::kRecoveryBackupKey : CodexResetController::kPendingBackupKey;
        const QByteArray goodPending = attemptJson(kAccount, "K");
        const QByteArray goodRecovery = gateJson(kAccount, 5);
        QJsonObject damaged = json::parseObject(inPending ? goodPending : goodRecovery);
        damaged.insert(account, neighbour);
        const QByteArray raw = json::serialize(damaged);

        h->defaults->setData(CodexResetController::kPendingKey, inPending ? raw : goodPending);
        h->defaults->setData(CodexResetController::kRecoveryKey, inPending ? goodRecovery : raw);
        QVERIFY(h->defaults->flush());
        h->restart();
        const QMap<QString, CodexResetAttempt> attempts {{kAccount, {kAccount, "K"}}};
        const QMap<QString, RecoveryGate> gates {{kAccount, {Timestamp::fromSinceReference(5), std::nullopt}}};
        QCOMPARE(h->controller->attempts(), attempts);
        QCOMPARE(h->controller->recoveryGates(), gates);
        QCOMPARE(h->defaults->data(backupKey), std::optional(raw));
        QVERIFY(!h->defaults->contains(otherBackupKey));

        // The retry sends the stored key; the first save writes the cleaned map.
        const auto retry = h->controller->makeConfirmation(profileA, exhausted());
        QVERIFY(retry && retry->isRetry);
        h->perform(*retry, profileA, exhausted());
        QCOMPARE(h->calls.size(), 1);
        QCOMPARE(h->calls.first().attempt, (CodexResetAttempt {kAccount, "K"}));
        QCOMPARE(h->defaults->persisted().value(CodexResetController::kPendingKey).toByteArray(), goodPending);
        QCOMPARE(h->defaults->persisted().value(CodexResetController::kRecoveryKey).toByteArray(), goodRecovery);
        QCOMPARE(h->defaults->persisted().value(backupKey).toByteArray(), raw);
        h->fail(0, ProviderClientError::timedOut(QStringLiteral("нет ответа")));
        h->restart();
        QCOMPARE(h->controller->attempts(), attempts);
        QCOMPARE(h->controller->recoveryGates(), gates);
        QCOMPARE(h->defaults->data(backupKey), std::optional(raw));
        QVERIFY(!h->defaults->contains(otherBackupKey));
    }

    // Through the real client: a pending attempt beside damaged entries is
    // repeated with its stored key, never spent anew.
    void retryAfterDamagedNeighbourSendsTheStoredKey()
    {
        FakeCodexRig rig;
        VirtualScheduler scheduler(SystemClock::shared().now());
        const QString storedKey = QStringLiteral("0B5E3F0C-6A2D-4C7B-9E1F-2D3C4B5A6978");
        QJsonObject pending = json::parseObject(attemptJson(kAccount, storedKey));
        pending.insert(QStringLiteral("acct-0"), 7);
        pending.insert(kOtherAccount, QJsonObject {{"accountID", kOtherAccount}});
        MemoryDefaults defaults({{CodexResetController::kPendingKey, json::serialize(pending)}});
        const auto consumer = CodexResetController::clientConsumer(
            scheduler, [&rig](const ProviderProfile& p) { return rig.client(p); });
        CodexResetController controller(defaults, consumer, scheduler);

        const ProviderUsage usage = exhausted(kAccount, scheduler.now());
        const auto retry = controller.makeConfirmation(rig.profile, usage);
        QVERIFY(retry && retry->isRetry);
        rig.setScenario(QJsonObject {{"methods", QJsonObject {{kReadLimits, answer(serverLimits())},
                                                             {kConsume, outcomeAnswer("alreadyRedeemed")}}}});
        std::optional<QString> message;
        controller.performReset(*retry, rig.profile, usage, {}, {}, [&](Result<QString> r) { message = r.value(); });
        QVERIFY(scheduler.waitUntil([&] { return message.has_value(); }));
        QCOMPARE(*message, CodexResetController::outcomeText(CodexResetOutcome::alreadyRedeemed)
                               + CodexResetController::kAwaitingRecoverySuffix);
        QCOMPARE(rig.consumeKeys(), QStringList {storedKey});
        QVERIFY(controller.attempts().isEmpty());
        QCOMPARE(defaults.data(CodexResetController::kPendingBackupKey), std::optional(json::serialize(pending)));
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // Two profiles on one account share the attempt and the gate, not the confirmations.
    void twoProfilesOneAccount()
    {
        auto fromA = h->controller->makeConfirmation(profileA, exhausted());
        auto fromB = h->controller->makeConfirmation(profileB, exhausted());
        QCOMPARE(h->controller->confirmations().size(), 2);
        h->perform(*fromA, profileA, exhausted());
        const CodexResetAttempt attempt = h->calls.first().attempt;
        // B's confirmation was for a new spend; the account is busy now.
        QCOMPARE(h->perform(*fromB, profileB, exhausted())->message, std::optional(CodexResetController::kRefusedMessage));
        h->fail(0, ProviderClientError::timedOut(QStringLiteral("нет ответа")));

        // B sees A's pending attempt and repeats it with the same key.
        QVERIFY(h->controller->hasPendingAttempt(exhausted()));
        QCOMPARE(h->perform(*fromB, profileB, exhausted())->message, std::optional(CodexResetController::kRefusedMessage));
        auto retryB = h->controller->makeConfirmation(profileB, exhausted());
        QVERIFY(retryB && retryB->isRetry);
        h->perform(*retryB, profileB, exhausted());
        QCOMPARE(h->calls.size(), 2);
        QCOMPARE(h->calls.last().profileID, profileB.id());
        QCOMPARE(h->calls.last().attempt, attempt);
        h->succeed(1, CodexResetOutcome::alreadyRedeemed, std::nullopt);

        // The gate blocks A too until fresh data shows the limits back.
        QVERIFY(h->controller->isAwaitingRecovery(exhausted()));
        QVERIFY(!h->controller->makeConfirmation(profileA, exhausted()));
        h->controller->reconcile(recovered(kAccount, kNow.adding(1)));
        QVERIFY(!h->controller->isAwaitingRecovery(exhausted()));
        QVERIFY(!h->controller->canConfirmReset(exhausted()));          // older than the recovery
        QVERIFY(h->controller->canConfirmReset(exhausted(kAccount, kNow.adding(2))));
    }

    // A controller gone while its consumer runs ignores the late answer.
    void lateAnswerAfterTheControllerIsGone()
    {
        auto confirmation = h->controller->makeConfirmation(profileA, exhausted());
        auto delivery = h->perform(*confirmation, profileA, exhausted());
        auto done = h->calls.first().done;
        h->controller.reset();
        done(Result<CodexResetResult>::success({CodexResetOutcome::reset, std::nullopt, std::nullopt}));
        h->scheduler.drainPosted();
        QCOMPARE(delivery->message, std::nullopt);
        QCOMPARE(h->host.calls.size(), 1);
    }

    // Kills the spend at each step with the real client and the fake program,
    // restarts from what was flushed, and retries the way the card offers it:
    // every path ends with exactly one key ever sent for that spend.
    void neverSpendsTwice_data()
    {
        QTest::addColumn<QJsonObject>("firstRun");
        QTest::addColumn<bool>("appDies");   // the process ends before it reads the answer
        QTest::addColumn<bool>("quits");     // the application quits while the server holds the request

        const QJsonObject limits = answer(serverLimits());
        const QJsonObject readsThenDies {{kReadLimits, QJsonArray {limits, QJsonObject {{"exit", 1}}}},
                                         {kConsume, outcomeAnswer("reset")}};
        auto methods = [](QJsonObject m) { return QJsonObject {{"methods", m}}; };

        QTest::newRow("before the request: codex does not start") << QJsonObject {{"exitAtStart", 1}} << true << false;
        QTest::newRow("before the request: codex dies")
            << methods({{kReadLimits, QJsonObject {{"exit", 1}}}}) << false << false;
        QTest::newRow("before the request: codex and the app die")
            << methods({{kReadLimits, QJsonObject {{"exit", 1}}}}) << true << false;
        QTest::newRow("after the request: codex dies")
            << methods({{kReadLimits, limits}, {kConsume, QJsonObject {{"exit", 1}}}}) << false << false;
        QTest::newRow("after the request: codex and the app die")
            << methods({{kReadLimits, limits}, {kConsume, QJsonObject {{"exit", 1}}}}) << true << false;
        QTest::newRow("after the request: the app quits")
            << methods({{kReadLimits, limits}, {kConsume, QJsonObject {{"never", true}}}}) << true << true;
        QTest::newRow("after the reply: codex dies")
            << methods({{kReadLimits, limits}, {kConsume, QJsonObject {{"result", QJsonObject {{"outcome", "reset"}}}, {"exitAfter", 1}}}})
            << false << false;
        QTest::newRow("after the reply: codex and the app die")
            << methods({{kReadLimits, limits}, {kConsume, QJsonObject {{"result", QJsonObject {{"outcome", "reset"}}}, {"exitAfter", 1}}}})
            << true << false;
        QTest::newRow("before the re-read: codex dies") << methods(readsThenDies) << false << false;
        QTest::newRow("before the re-read: codex and the app die") << methods(readsThenDies) << true << false;
        QTest::newRow("after the re-read: the app dies")
            << methods({{kReadLimits, limits}, {kConsume, outcomeAnswer("reset")}}) << true << false;
    }
    void neverSpendsTwice()
    {
        QFETCH(QJsonObject, firstRun);
        QFETCH(bool, appDies);
        QFETCH(bool, quits);

        FakeCodexRig rig;
        VirtualScheduler scheduler(SystemClock::shared().now());
        auto defaults = std::make_unique<MemoryDefaults>();
        CancelToken quit;
        std::unique_ptr<CodexResetController> controller;
        // A new process: its own quit token, and only what was flushed.
        auto start = [&] {
            quit = CancelToken();
            const auto consumer = CodexResetController::clientConsumer(
                scheduler, [&rig](const ProviderProfile& p) { return rig.client(p); }, quit);
            controller = std::make_unique<CodexResetController>(*defaults, consumer, scheduler);
        };
        auto restart = [&] {
            controller.reset();
            defaults = defaults->restarted();
            start();
        };
        start();
        // What the card shows: the last usage, limit spent.
        const ProviderUsage usage = exhausted(kAccount, scheduler.now());

        rig.setScenario(firstRun);
        const auto confirmation = controller->makeConfirmation(rig.profile, usage);
        QVERIFY(confirmation && !confirmation->isRetry);
        std::optional<QString> message;
        controller->performReset(*confirmation, rig.profile, usage, {}, {}, [&](Result<QString> r) { message = r.value(); });
        const QString key = controller->attempts().value(kAccount).idempotencyKey;
        QVERIFY(!key.isEmpty());
        QCOMPARE(CodexResetController(*defaults->restarted(), {}, scheduler).attempts().value(kAccount).idempotencyKey, key);

        if (quits) {
            QVERIFY(rig.waitForConsume());
            quit.cancel();
        }
        if (appDies) {
            Workers::waitForDone();   // the exchange has ended; its answer waits for the main loop
            controller.reset();       // which never reads it
            scheduler.drainPosted();
            QCOMPARE(message, std::nullopt);
        } else {
            QVERIFY(scheduler.waitUntil([&] { return message.has_value(); }));
        }
        const bool serverSpent = !rig.consumeKeys().isEmpty();

        restart();
        if (const auto retry = controller->makeConfirmation(rig.profile, usage)) {
            // Whatever is left over can only be repeated, never spent anew.
            QVERIFY(retry->isRetry);
            rig.setScenario(QJsonObject {{"methods", QJsonObject {
                {kReadLimits, answer(serverLimits())},
                {kConsume, outcomeAnswer(serverSpent ? "alreadyRedeemed" : "reset")}}}});
            message.reset();
            controller->performReset(*retry, rig.profile, usage, {}, {}, [&](Result<QString> r) { message = r.value(); });
            QVERIFY(scheduler.waitUntil([&] { return message.has_value(); }));
            QCOMPARE(*message, CodexResetController::outcomeText(serverSpent ? CodexResetOutcome::alreadyRedeemed
                                                                             : CodexResetOutcome::reset)
                                   + CodexResetController::kAwaitingRecoverySuffix);
        }

        // One key, nothing pending, and no new spend until the limits are seen back; also after another restart.
        for (int round = 0; round < 2; ++round) {
            const QStringList keys = rig.consumeKeys();
            QVERIFY(!keys.isEmpty());
            QCOMPARE(QSet<QString>(keys.begin(), keys.end()), QSet<QString> {key});
            QVERIFY(controller->attempts().isEmpty());
            QVERIFY(controller->isAwaitingRecovery(usage));
            QVERIFY(!controller->makeConfirmation(rig.profile, usage));
            restart();
        }
        for (const QString& home : rig.codexHomes())
            QCOMPARE(home, rig.profile.configDirectory);
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // The application's consumer finds codex and gives it the profile's folder.
    void defaultConsumerRunsTheProfilesCodex()
    {
        FakeCodexRig rig;
        const QString home = rig.path("home");
        for (const QString& candidate : paths::codexProgramCandidates(home))
            if (QFileInfo(candidate).isExecutable())
                QSKIP("a codex program is installed here");
        QVERIFY(QDir().mkpath(rig.path("bin")));
        QVERIFY(QFile::link(testsupport::fakeProgram("fake_codex"), rig.path("bin/codex")));
        rig.setScenario(QJsonObject {{"methods", QJsonObject {{kReadLimits, answer(serverLimits())},
                                                             {kConsume, outcomeAnswer("reset")}}}});

        const QByteArray savedPath = qgetenv("PATH");
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("PATH", QFile::encodeName(rig.path("bin")) + ':' + savedPath);
        qputenv("HOME", QFile::encodeName(home));
        qputenv("FAKE_CODEX_SCENARIO", QFile::encodeName(rig.scenarioPath()));
        qputenv("FAKE_CODEX_LOG", QFile::encodeName(rig.logPath()));
        auto restore = qScopeGuard([&] {
            qputenv("PATH", savedPath);
            qputenv("HOME", savedHome);
            qunsetenv("FAKE_CODEX_SCENARIO");
            qunsetenv("FAKE_CODEX_LOG");
        });

        VirtualScheduler scheduler(SystemClock::shared().now());
        MemoryDefaults defaults;
        CodexResetController controller(defaults, CodexResetController::defaultConsumer(scheduler), scheduler);
        const ProviderUsage usage = exhausted(kAccount, scheduler.now());
        const auto confirmation = controller.makeConfirmation(rig.profile, usage);
        std::optional<QString> message;
        controller.performReset(*confirmation, rig.profile, usage, {}, {}, [&](Result<QString> r) { message = r.value(); });
        QVERIFY(scheduler.waitUntil([&] { return message.has_value(); }));
        QCOMPARE(*message, "Сброс использован." + CodexResetController::kAwaitingRecoverySuffix);
        QCOMPARE(rig.codexHomes(), QStringList {rig.profile.configDirectory});
        QCOMPARE(rig.consumeKeys().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCodexResetController)
#include "test_codex_reset_controller.moc"
