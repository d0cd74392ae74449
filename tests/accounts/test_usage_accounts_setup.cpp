// The registry's collector set-up pass, its bridge-folder refreshes and its
// Codex reset requests.

#include "AccountsHarness.h"
#include "support/TestSupport.h"

#include "accounts/CollectorInstaller.h"
#include "platform/ForeignError.h"
#include "platform/Workers.h"
#include "providers/codex/CodexUsageFixtures.h"
#include "usage/ProviderClientError.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

using Confirmation = CodexResetController::Confirmation;

// Every spend the reset controller asks for, answered by the test; the
// messages the registry hands back.
struct SpendLog {
    struct Spend {
        QString profile;
        CodexResetAttempt attempt;
        bool isRetry;
        CancelToken quit;
        Completion<CodexResetResult> done;
    };
    std::vector<Spend> spends;
    QStringList messages;

    UsageAccounts::ResetConsumerFactory factory()
    {
        return [this](Scheduler&, CancelToken quit) {
            return [this, quit](const ProviderProfile& profile, const CodexResetAttempt& attempt, bool isRetry,
                                Completion<CodexResetResult> done) {
                spends.push_back({profile.name, attempt, isRetry, quit, std::move(done)});
            };
        };
    }
    Completion<QString> collect()
    {
        return [this](Result<QString> message) { messages << message.value(); };
    }
};

// The named Codex profile reads its account's spent limits, or, once `limitsBack`, the limits back.
void readsCodex(Harness& h, const QString& name, const QString& account, const bool* limitsBack = nullptr)
{
    h.outcomes.insert(name, [&h, account, limitsBack](const ProviderProfile&) {
        const Timestamp now = h.scheduler.now();
        return Result<ProviderUsage>::success(limitsBack && *limitsBack ? fixtures::recoveredCodex(account, now)
                                                                        : fixtures::exhaustedCodex(account, now, now.adding(3600)));
    });
}

} // namespace

Q_DECLARE_METATYPE(std::function<std::exception_ptr()>)

class UsageAccountsSetupTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        Workers::waitForDone();
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // Set-up pass

    // Through the real installer with a Node.js that logs its profile folder:
    // the Claude Code and Antigravity profiles, hidden ones too, run their
    // script once per run; Codex and Copilot start nothing and leave no error;
    // visible bridge-fed profiles are refreshed once connected.
    void everyProfileIsConnectedOncePerRun()
    {
        Harness h;
        const QString log = h.home.path("{root}/node.log");
        const QString node = h.home.path("{root}/bin/node");
        QVERIFY(testsupport::writeExecutable(node, "#!/bin/sh\nprintf '%s\\n' \"$3\" >> '" + log.toUtf8() + "'\n"));
        h.saveList({h.profile(UsageProvider::claude, ".claude", "c", true),
                    h.profile(UsageProvider::codex, ".codex", "x", true),
                    h.profile(UsageProvider::claude, ".claude-hidden", "h", false),
                    h.profile(UsageProvider::copilot, ".copilot", "p", true),
                    h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "g", true)});
        UsageAccounts::Operations ops = h.operations();
        const CollectorInstaller installer(CollectorInstaller::defaultResourcesDirectory(), {node});
        ops.connectProfile = [&h, installer](const ProviderProfile& profile, CancelToken cancel, Completion<Unit> done) {
            h.connectLog << profile.name;
            installer.installAsync(h.scheduler, profile, systemEnvironment(), cancel, std::move(done));
        };
        UsageAccounts& accounts = h.make(ops);
        QSignalSpy errorsChanged(&accounts, &UsageAccounts::connectionErrorsChanged);

        // Nothing before start.
        h.settle();
        QVERIFY(h.connectLog.isEmpty());
        QVERIFY(!accounts.isSettingUp());

        accounts.start();
        QVERIFY(accounts.isSettingUp());
        h.settle(); // the stores' first reads
        QVERIFY(h.scheduler.waitUntil([&] { return !accounts.isSettingUp(); }));
        QCOMPARE(h.connectLog, (QStringList {"c", "x", "h", "p", "g"}));
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(logFile.readAll()).split('\n', Qt::SkipEmptyParts),
                 (QStringList {h.named("c").configDirectory, h.named("h").configDirectory, h.named("g").configDirectory}));
        QCOMPARE(accounts.setupAttempts().size(), 5);
        QVERIFY(accounts.connectionErrors().isEmpty());
        QCOMPARE(errorsChanged.count(), 0);
        QCOMPARE(h.fetchLog.count("c"), 2);
        QCOMPARE(h.fetchLog.count("g"), 2);
        QCOMPARE(h.fetchLog.count("x"), 1);
        QCOMPARE(h.fetchLog.count("h"), 0);

        // A later start in the same run connects nothing again.
        accounts.stop();
        accounts.start();
        h.settle();
        QVERIFY(!accounts.isSettingUp());
        QCOMPARE(h.connectLog.size(), 5);
        accounts.stop();
    }

    // A failed profile keeps its error through restarts and list changes
    // until retried; the retry clears it at once and, when it connects,
    // refreshes the profile.
    void failureStaysUntilRetry()
    {
        Harness h;
        h.connectHeld = false;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "c", true),
                    h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "g", true)});
        const ProviderClientError failed = CollectorInstaller::setupFailed(UsageProvider::claude);
        h.connectOutcomes.insert("c", Result<Unit>::failure(std::make_exception_ptr(failed)));
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        const QString id = h.named("c").id();
        QCOMPARE(accounts.connectionErrors(), (UsageAccounts::ConnectionErrors {{id, failed.message()}}));
        QCOMPARE(h.connectLog, (QStringList {"c", "g"})); // the pass went on
        QVERIFY(accounts.usage(h.named("c")).errorMessage == std::nullopt); // the usage is not touched

        accounts.stop();
        accounts.start();
        accounts.discoverProfiles();
        h.settle();
        QCOMPARE(h.connectLog.size(), 2);
        QCOMPARE(accounts.connectionErrors().size(), 1);

        // Failing again brings the error back; then it connects.
        const int fetches = h.fetchLog.count("c");
        accounts.retrySetup(h.named("c"));
        QVERIFY(accounts.connectionErrors().isEmpty());
        h.settle();
        QCOMPARE(accounts.connectionErrors().size(), 1);
        QCOMPARE(h.fetchLog.count("c"), fetches); // no refresh for a failure
        h.connectOutcomes.remove("c");
        accounts.retrySetup(h.named("c"));
        h.settle();
        QCOMPARE(h.connectLog, (QStringList {"c", "g", "c", "c"}));
        QVERIFY(accounts.connectionErrors().isEmpty());
        QCOMPARE(h.fetchLog.count("c"), fetches + 1);
        QVERIFY(!accounts.isSettingUp());
    }

    // The stored text is the error's description cut to 8192 characters, then redacted.
    void failureTextIsCutAndRedacted_data()
    {
        QTest::addColumn<std::function<std::exception_ptr()>>("error");
        QTest::addColumn<QString>("stored");

        const QString token = QStringLiteral("Bearer ") + QString(40, QChar(u'a'));
        QTest::newRow("bearer token in a plain error")
            << std::function([token] { return std::make_exception_ptr(ProviderClientError::requestFailed("сбой " + token)); })
            << QStringLiteral("сбой [redacted]");
        QTest::newRow("10,000 characters")
            << std::function([] {
                   return std::make_exception_ptr(ProviderClientError::requestFailed(QString(10'000, QChar(u'ж'))));
               })
            << QString(8192, QChar(u'ж'));
        QTest::newRow("token past the cut is gone, one before it redacted")
            << std::function([token] {
                   return std::make_exception_ptr(ProviderClientError::timedOut(
                       token + ' ' + QString(9000, QChar(u'ж')) + " sk-" + QString(30, QChar(u'b'))));
               })
            << QStringLiteral("[redacted] ") + QString(8192 - token.size() - 1, QChar(u'ж'));
        QTest::newRow("system error")
            << std::function([] {
                   return std::make_exception_ptr(ForeignError(QStringLiteral("NSPOSIXErrorDomain"), 13,
                                                               QStringLiteral("Permission denied")));
               })
            << QStringLiteral("Permission denied");
        // Not asked for by a stop: a failure like any other, so the passes come to an end.
        QTest::newRow("cancellation without a stop")
            << std::function([] { return std::make_exception_ptr(CancellationError()); })
            << ProviderClientError::from(std::make_exception_ptr(CancellationError())).errorDescription();
    }

    void failureTextIsCutAndRedacted()
    {
        QFETCH(std::function<std::exception_ptr()>, error);
        QFETCH(QString, stored);
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "c", false)});
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        h.answerConnect(Result<Unit>::failure(error()));
        QCOMPARE(accounts.connectionErrors().value(h.named("c").id()), stored);
        QCOMPARE(h.connectLog, QStringList {"c"});
        QVERIFY(!accounts.isSettingUp());
    }

    // A pass takes the list as it was when it started; what is added or
    // retried meanwhile is connected by the follow-up pass.
    void changesDuringAPassGoToTheFollowUp()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "a", false),
                    h.profile(UsageProvider::codex, ".codex", "x", false)});
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        QCOMPARE(h.connectLog, QStringList {"a"});

        QVERIFY(h.home.build({"d:.claude-new"}));
        accounts.addProfileFolder(h.home.path(".claude-new"), UsageProvider::claude);
        h.answerConnect(Result<Unit>::failure(std::make_exception_ptr(ProviderClientError::requestFailed("нет"))));
        QCOMPARE(h.connectLog, (QStringList {"a", "x"}));
        accounts.retrySetup(h.named("a")); // a pass is running: served by the follow-up
        h.settle();
        QCOMPARE(h.connectLog, (QStringList {"a", "x"}));

        h.answerConnect(Result<Unit>::success({}));
        QCOMPARE(h.connectLog, (QStringList {"a", "x", "a"})); // the follow-up, in list order
        h.answerConnect(Result<Unit>::success({}));
        QCOMPARE(h.connectLog, (QStringList {"a", "x", "a", "new"}));
        h.answerConnect(Result<Unit>::success({}));
        QVERIFY(!accounts.isSettingUp());
        QVERIFY(accounts.connectionErrors().isEmpty());
        QCOMPARE(accounts.setupAttempts().size(), 3);
    }

    // Stopping cancels the running pass: it ends before its next attempt. An
    // attempt that connected or was ended by the cancellation is tried again
    // by the next run; a real failure keeps its error.
    void stopCancelsThePass_data()
    {
        QTest::addColumn<QString>("outcome"); // "connected", "cancelled", "failed"
        QTest::addColumn<QStringList>("afterRestart");
        QTest::newRow("connected meanwhile") << "connected" << QStringList {"a"};
        QTest::newRow("installer ended") << "cancelled" << QStringList {"a"};
        QTest::newRow("installer failed") << "failed" << QStringList {"b"};
    }

    void stopCancelsThePass()
    {
        QFETCH(QString, outcome);
        QFETCH(QStringList, afterRestart);
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude-a", "a", true),
                    h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "b", true)});
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        QCOMPARE(h.connectLog, QStringList {"a"});
        const CancelToken cancel = h.connectPending.front().cancel;
        QVERIFY(!cancel.isCancelled());

        accounts.stop();
        QVERIFY(cancel.isCancelled());
        QVERIFY(!accounts.isSettingUp());
        const int fetches = h.fetchLog.size();
        if (outcome == "connected")
            h.answerConnect(Result<Unit>::success({}));
        else if (outcome == "cancelled")
            h.answerConnect(Result<Unit>::failure(std::make_exception_ptr(CancellationError())));
        else
            h.answerConnect(Result<Unit>::failure(std::make_exception_ptr(ProviderClientError::requestFailed("нет"))));
        h.settle();
        QCOMPARE(h.connectLog, QStringList {"a"});
        QCOMPARE(h.fetchLog.size(), fetches);
        QCOMPARE(accounts.setupAttempts().contains(h.named("a").id()), outcome == "failed");
        QCOMPARE(accounts.connectionErrors().size(), outcome == "failed" ? 1 : 0);

        accounts.start();
        h.settle();
        QCOMPARE(h.connectLog, QStringList {"a"} + afterRestart);
        QVERIFY(accounts.isSettingUp());
        // The new pass is not disturbed by the old one.
        QVERIFY(!h.connectPending.front().cancel.isCancelled());
        accounts.stop();
    }

    // A pass stopped while it waits and answered only after a new start has
    // begun its own pass ends quietly: one pass runs at a time.
    void aLateStoppedPassLeavesTheNewOneAlone()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude-a", "a", false),
                    h.profile(UsageProvider::claude, ".claude-b", "b", false)});
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        accounts.stop();
        accounts.start();
        h.settle();
        QCOMPARE(h.connectLog, (QStringList {"a", "b"}));

        h.answerConnect(Result<Unit>::success({})); // the old pass's "a"
        h.settle();
        QVERIFY(accounts.isSettingUp());
        QCOMPARE(h.connectLog, (QStringList {"a", "b"}));
        h.answerConnect(Result<Unit>::success({})); // "b" ends the new pass; the follow-up takes "a" again
        QCOMPARE(h.connectLog, (QStringList {"a", "b", "a"}));
        h.answerConnect(Result<Unit>::success({}));
        QVERIFY(!accounts.isSettingUp());
        QCOMPARE(accounts.setupAttempts().size(), 2);
    }

    // Bridge folder

    // A burst in the bridge folder refreshes the visible Claude Code and
    // Antigravity profiles, each once, one after another in list order, and
    // skips one hidden meanwhile. No events, no refresh.
    void bridgeFolderBurstRefreshesTheBridgeFedProfiles()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "g", true),
                    h.profile(UsageProvider::codex, ".codex", "x", true),
                    h.profile(UsageProvider::claude, ".claude-h", "h", false),
                    h.profile(UsageProvider::claude, ".claude", "c", true),
                    h.profile(UsageProvider::copilot, ".copilot", "p", true)});
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        QVERIFY(accounts.watcher());
        h.fetchLog.clear();

        QCoreApplication::processEvents();
        h.settle();
        QCOMPARE(h.folderEvents, 0);
        QVERIFY(h.fetchLog.isEmpty());

        // Moved in whole, as the collectors do: one event.
        QVERIFY(testsupport::writeFile(h.home.path("one.json"), "{}"));
        QVERIFY(QFile::rename(h.home.path("one.json"), h.home.path("bridge/one.json")));
        QTRY_COMPARE_WITH_TIMEOUT(h.folderEvents, 1, 5000);
        QCOMPARE(h.fetchLog, QStringList {"g"}); // the next waits for this one
        h.settle();
        QCOMPARE(h.fetchLog, (QStringList {"g", "c"}));

        QVERIFY(QFile::remove(h.home.path("bridge/one.json")));
        QTRY_COMPARE_WITH_TIMEOUT(h.folderEvents, 2, 5000);
        QCOMPARE(h.fetchLog, (QStringList {"g", "c", "g"}));
        accounts.setVisible(false, h.named("c").id());
        h.settle();
        QCOMPARE(h.fetchLog, (QStringList {"g", "c", "g"}));
        accounts.stop();
    }

    // Codex reset

    // A reset request pauses every Codex store, hands the result to the
    // stores of the same account and ends the reset on the rest; fresh
    // Codex usage from a store reaches the controller.
    void requestCodexResetRunsThroughTheController()
    {
        Harness h;
        SpendLog log;
        h.resetConsumers = log.factory();
        h.saveList({h.profile(UsageProvider::codex, ".codex-a", "a", true),
                    h.profile(UsageProvider::codex, ".codex-b", "b", false),
                    h.profile(UsageProvider::claude, ".claude", "c", true),
                    h.profile(UsageProvider::codex, ".codex-d", "d", true)});
        bool limitsBack = false;
        readsCodex(h, "a", "acct-1", &limitsBack);
        readsCodex(h, "b", "acct-1", &limitsBack);
        readsCodex(h, "d", "acct-2", &limitsBack);
        UsageAccounts& accounts = h.make();
        CodexResetController& resets = accounts.resets();
        accounts.start();
        h.settle();
        accounts.setVisible(true, h.named("b").id());
        h.settle();
        accounts.setVisible(false, h.named("b").id());

        std::optional<Confirmation> confirmation = resets.makeConfirmation(h.named("a"), accounts.usage(h.named("a")));
        QVERIFY(confirmation);
        std::vector<SpendLog::Spend>& spends = log.spends;
        QStringList& messages = log.messages;
        const Completion<QString> collect = log.collect();

        // A profile hidden or gone since the confirmation opened spends nothing.
        accounts.requestCodexReset(*confirmation, h.named("b"), collect);
        accounts.requestCodexReset(*confirmation, h.profile(UsageProvider::codex, ".codex-gone", "gone", true), collect);
        QVERIFY(messages.isEmpty()); // answered later
        h.scheduler.drainPosted();
        QCOMPARE(messages, QStringList(2, UsageAccounts::kResetRefusedMessage));
        QVERIFY(spends.empty());

        accounts.requestCodexReset(*confirmation, h.named("a"), collect);
        QCOMPARE(spends.size(), 1u);
        QCOMPARE(spends.front().profile, QStringLiteral("a"));
        QCOMPARE(spends.front().attempt.accountID, QStringLiteral("acct-1"));
        QVERIFY(!spends.front().quit.isCancelled());
        for (const char* name : {"a", "b", "d"})
            QVERIFY2(h.storeOf(name)->resetInProgress(), name);
        QVERIFY(!h.storeOf("c")->resetInProgress());

        spends.front().done(Result<CodexResetResult>::success({CodexResetOutcome::reset, std::nullopt, std::nullopt}));
        h.scheduler.drainPosted();
        QCOMPARE(messages.last(), CodexResetController::outcomeText(CodexResetOutcome::reset)
                                      + CodexResetController::kAwaitingRecoverySuffix);
        for (const char* name : {"a", "b", "d"})
            QVERIFY2(!h.storeOf(name)->resetInProgress(), name);
        QCOMPARE(h.storeOf("a")->postResetRefreshes(), 3);
        QCOMPARE(h.storeOf("b")->postResetRefreshes(), 3);
        QCOMPARE(h.storeOf("d")->postResetRefreshes(), 0);
        QVERIFY(resets.isAwaitingRecovery(accounts.usage(h.named("a"))));

        // The store's next read shows the limits back: the controller records it.
        limitsBack = true;
        bool refreshed = false;
        accounts.refresh(h.named("a"), true, [&](bool) { refreshed = true; });
        h.settle();
        QVERIFY(refreshed);
        QVERIFY(resets.recoveryGates().value("acct-1").recoveredAt);
        QVERIFY(!resets.isAwaitingRecovery(accounts.usage(h.named("a"))));
        accounts.stop();
    }

    // Stopping ends a running spend through its quit token; the attempt stays
    // pending, and after a new start its retry runs with a live token and the same key.
    void stopEndsARunningSpend()
    {
        Harness h;
        SpendLog log;
        h.resetConsumers = log.factory();
        h.saveList({h.profile(UsageProvider::codex, ".codex", "a", true)});
        readsCodex(h, "a", "acct-1");
        UsageAccounts& accounts = h.make();
        accounts.start();
        h.settle();
        std::vector<SpendLog::Spend>& spends = log.spends;
        QStringList& messages = log.messages;
        const Completion<QString> collect = log.collect();
        const auto first = accounts.resets().makeConfirmation(h.named("a"), accounts.usage(h.named("a")));
        QVERIFY(first && !first->isRetry);
        accounts.requestCodexReset(*first, h.named("a"), collect);
        QCOMPARE(spends.size(), 1u);

        accounts.stop();
        QVERIFY(spends.back().quit.isCancelled());
        spends.back().done(Result<CodexResetResult>::failure(std::make_exception_ptr(CancellationError())));
        h.scheduler.drainPosted();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.last().startsWith(CodexResetController::kUnconfirmedMessage + '\n'));
        const QString key = spends.back().attempt.idempotencyKey;
        QCOMPARE(accounts.resets().attempts().value("acct-1").idempotencyKey, key);

        accounts.start();
        h.settle();
        const auto retry = accounts.resets().makeConfirmation(h.named("a"), accounts.usage(h.named("a")));
        QVERIFY(retry && retry->isRetry);
        accounts.requestCodexReset(*retry, h.named("a"), collect);
        QCOMPARE(spends.size(), 2u);
        QVERIFY(!spends.back().quit.isCancelled());
        QVERIFY(spends.back().isRetry);
        QCOMPARE(spends.back().attempt.idempotencyKey, key);
        spends.back().done(Result<CodexResetResult>::success({CodexResetOutcome::noCredit, std::nullopt, std::nullopt}));
        h.scheduler.drainPosted();
        QVERIFY(accounts.resets().attempts().isEmpty());

        // Gone with a spend running: its token is cancelled and its late answer dropped.
        accounts.refresh(h.named("a"), true);
        h.settle();
        const auto last = accounts.resets().makeConfirmation(h.named("a"), accounts.usage(h.named("a")));
        QVERIFY(last);
        accounts.requestCodexReset(*last, h.named("a"), collect);
        QCOMPARE(spends.size(), 3u);
        const int answered = messages.size();
        h.accounts.reset();
        QVERIFY(spends.back().quit.isCancelled());
        spends.back().done(Result<CodexResetResult>::failure(std::make_exception_ptr(CancellationError())));
        h.scheduler.drainPosted();
        QCOMPARE(messages.size(), answered);
    }

    // Without Codex in this build nothing is spent.
    void requestCodexResetRefusedWithoutCodex()
    {
        Harness h;
        bool called = false;
        h.resetConsumers = [&called](Scheduler&, CancelToken) {
            return [&called](const ProviderProfile&, const CodexResetAttempt&, bool, Completion<CodexResetResult>) {
                called = true;
            };
        };
        h.saveList({h.profile(UsageProvider::codex, ".codex", "a", true)});
        UsageAccounts& accounts = h.make(AppDistributionChannel::appStore);
        const ProviderProfile codex = h.profile(UsageProvider::codex, ".codex", "a", true);
        const Confirmation confirmation {QUuid::createUuid(), codex.id(), "acct-1", false, 0, false};
        std::optional<QString> message;
        accounts.requestCodexReset(confirmation, codex, [&](Result<QString> m) { message = m.value(); });
        h.scheduler.drainPosted();
        QCOMPARE(message, UsageAccounts::kResetRefusedMessage);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(UsageAccountsSetupTest)
#include "test_usage_accounts_setup.moc"
