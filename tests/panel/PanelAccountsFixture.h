#pragma once

// The registry of the accounts harness fed with the states the panel views
// draw: every visible profile answers its first fetch with a scripted usage or
// error, or holds it (loading). Time is the harness's virtual clock.

#include "accounts/AccountsHarness.h"
#include "usage/ProviderClientError.h"

#include <QCoreApplication>
#include <QMap>
#include <QSet>

struct PanelAccounts {
    Harness h;
    QList<ProviderProfile> list;
    QSet<QString> held; // profile names whose fetches never answer
    QList<Completion<ProviderUsage>> heldFetches;

    Timestamp now() const { return h.scheduler.now(); }

    // A visible profile of `provider` named `name` in the folder ".<name>".
    ProviderProfile add(UsageProvider provider, const QString& name)
    {
        const ProviderProfile p = h.profile(provider, QLatin1Char('.') + name.toLower(), name, true);
        list << p;
        return p;
    }

    void answer(const QString& name, const ProviderUsage& usage)
    {
        h.outcomes.insert(name, [usage](const ProviderProfile&) { return Result<ProviderUsage>::success(usage); });
    }
    void fail(const QString& name, const ProviderClientError& error)
    {
        h.outcomes.insert(name, [error](const ProviderProfile&) {
            return Result<ProviderUsage>::failure(std::make_exception_ptr(error));
        });
    }
    void hold(const QString& name) { held.insert(name); }

    // The registry with the profiles, started and settled.
    UsageAccounts& start()
    {
        h.saveList(list);
        UsageAccounts::Operations ops = h.operations();
        ops.makeStore = [this, base = ops.makeStore](const ProviderProfile& profile) -> std::unique_ptr<UsageStore> {
            if (!held.contains(profile.name))
                return base(profile);
            FetchOperation fetch = [this](bool, CancelToken, Completion<ProviderUsage> done) { heldFetches << done; };
            return std::make_unique<UsageStore>(profile, AccountScope::personal,
                                                UsageFetchers {fetch, fetch, fetch, fetch}, *h.defaults, h.scheduler,
                                                [] { return std::make_unique<QuietMonitor>(); });
        };
        UsageAccounts& accounts = h.make(ops);
        accounts.start();
        settle();
        return accounts;
    }

    // Runs what the fetches posted and what the views queued.
    void settle()
    {
        h.settle();
        QCoreApplication::processEvents();
    }

    // One profile in each state the views draw, answered on the first fetch:
    // fresh (Claude Code with two windows, Codex with a spent window resetting
    // in two hours and reset credits to offer), stale, failed, waiting for the first observation,
    // unlimited, and still loading.
    void addEveryState()
    {
        add(UsageProvider::codex, "Работа");
        add(UsageProvider::claude, "Основной");
        add(UsageProvider::copilot, "GitHub");
        add(UsageProvider::antigravity, "Gemini");
        add(UsageProvider::claude, "Новый");
        add(UsageProvider::copilot, "Безлимит");
        add(UsageProvider::codex, "Загрузка");

        ProviderUsage claude = usage(UsageProvider::claude, {window("five_hour", "Сессия", 41.5, 3600),
                                                             window("seven_day", "Неделя", 63, 3 * 86400, 10080)});
        claude.planName = QStringLiteral("Max");
        answer("Основной", claude);
        ProviderUsage codex = usage(UsageProvider::codex, {window("codex-primary", "5 ч", 24, 1800),
                                                           window("codex-secondary", "Неделя", 100, 7200, 10080)});
        codex.planName = QStringLiteral("Plus");
        // Spent, with reset credits to offer.
        codex.codexAccountID = QStringLiteral("acct-work");
        codex.codexOrdinaryUsageAllowed = false;
        CodexResetCredits credits;
        credits.availableCount = 2;
        credits.credits = QList<CodexResetCredits::Credit> {
            {QStringLiteral("c1"), QStringLiteral("codexRateLimits"), QStringLiteral("available"),
             qint64(now().since1970()) - 86400, qint64(now().since1970()) + 14 * 86400, {}, {}}};
        codex.codexResetCredits = credits;
        answer("Работа", codex);
        ProviderUsage stale = usage(UsageProvider::copilot, {window("premium", "Премиум-запросы", 12)}, 7200);
        stale.isStale = true;
        stale.sourceNote = QStringLiteral("Показаны последние сохранённые данные.");
        answer("GitHub", stale);
        fail("Gemini", ProviderClientError::timedOut(QStringLiteral("Antigravity не ответил за 20 с.")));
        ProviderUsage waiting = usage(UsageProvider::claude, {});
        waiting.updatedAt.reset();
        waiting.waitingForObservation = true;
        answer("Новый", waiting);
        ProviderUsage unlimited = usage(UsageProvider::copilot, {});
        unlimited.unlimitedCategories = QStringList {QStringLiteral("chat")};
        answer("Безлимит", unlimited);
        hold("Загрузка");
    }

    // A usage as a client returns it.
    ProviderUsage usage(UsageProvider provider, QList<UsageWindow> windows, double age = 0) const
    {
        ProviderUsage u = ProviderUsage::placeholder(provider);
        u.isLoading = false;
        u.windows = std::move(windows);
        u.updatedAt = now().adding(-age);
        return u;
    }
    UsageWindow window(const QString& id, const QString& title, double percent,
                       std::optional<double> resetsIn = std::nullopt, qint64 minutes = 300) const
    {
        UsageWindow w {id, title, percent, {}, minutes, now()};
        if (resetsIn)
            w.resetsAt = now().adding(*resetsIn);
        return w;
    }
};
