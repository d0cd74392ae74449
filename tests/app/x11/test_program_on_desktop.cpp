// The built program on an X server with a window manager, started as a user
// starts it: a fresh home with a Claude Code profile whose collector has
// already written, and a Codex profile that the fake codex on PATH answers.
// Everything is looked at from outside: xdotool for windows and the pointer,
// screen grabs for what the panel shows.

#include "X11Tools.h"
#include "app/EdgePanelController.h"
#include "panel/PanelPalette.h"
#include "panel/UsageFormat.h"
#include "platform/StrictJson.h"
#include "providers/copilot/CopilotUsageClient.h"
#include "support/ProgramRun.h"
#include "support/TestSupport.h"
#include "uisupport/RenderHarness.h"
#include "usage/ProfileDiscovery.h"
#include "usage/UsageAccounts.h"
#include "usage/UsageStore.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>

using namespace testsupport;
using namespace x11test;

namespace {

const QString kProgram = QStringLiteral(VANTOREL_BUILD_DIR "/vantorel");
const QString kSettingsTitle = QStringLiteral("Настройки Vantorel");
// Waits for the program are generous: the machine may be busy with other tests.
constexpr double kPatience = 60;

// Far in the future, so no window resets while the test runs.
constexpr qint64 kLater = 4'102'444'800;

QList<quint64> ids(const QString& text)
{
    QList<quint64> out;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out << line.trimmed().toULongLong();
    return out;
}

// Windows of process `pid`; only mapped ones when `visible`; with `title` exactly, when given.
QList<quint64> windowsOf(pid_t pid, bool visible, const QString& title = {})
{
    QStringList arguments {QStringLiteral("search"), QStringLiteral("--all")};
    if (visible)
        arguments << QStringLiteral("--onlyvisible");
    arguments << QStringLiteral("--pid") << QString::number(pid);
    if (!title.isEmpty())
        arguments << QStringLiteral("--name") << QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    return ids(xdotool(arguments));
}

QRect geometryOf(quint64 window)
{
    const QString text = xdotool({QStringLiteral("getwindowgeometry"), QString::number(window)});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Position: (-?\\d+),(-?\\d+) .*Geometry: (\\d+)x(\\d+)"),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(text);
    if (!m.hasMatch())
        return {};
    return QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
}

// Pixels of `image` near the full accent of `provider`, in the light or the dark palette.
int accentPixels(const QImage& image, UsageProvider provider)
{
    int most = 0;
    for (const bool dark : {false, true})
        most = std::max(most, uitest::countNear(image, image.rect(), palette::color(usageformat::accent(provider), dark), 8));
    return most;
}

// Mean row of the pixels of `image` near the accent of `provider` (-1 without any).
double accentRow(const QImage& image, UsageProvider provider)
{
    for (const bool dark : {false, true}) {
        const QColor accent = palette::color(usageformat::accent(provider), dark);
        double sum = 0;
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (uitest::near(uitest::pixel(image, x, y), accent, 8)) {
                    sum += y;
                    ++count;
                }
        if (count > 0)
            return sum / count;
    }
    return -1;
}

// The first image of the window's _NET_WM_ICON, what task switchers show (null without one).
QImage windowIcon(quint64 window)
{
    const QString text = run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("-notype"),
                                                       QStringLiteral("-f"), QStringLiteral("_NET_WM_ICON"),
                                                       QStringLiteral("32c"), QStringLiteral("=$0+"),
                                                       QStringLiteral("_NET_WM_ICON")});
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {};
    const QStringList values = text.mid(eq + 1).split(QLatin1Char(','));
    const int width = values.value(0).trimmed().toInt();
    const int height = values.value(1).trimmed().toInt();
    if (width <= 0 || height <= 0 || values.size() < 2 + width * height)
        return {};
    QImage image(width, height, QImage::Format_ARGB32);
    for (int i = 0; i < width * height; ++i)
        image.setPixel(i % width, i / width, values.at(2 + i).trimmed().toUInt());
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The program under test, its home and the fake codex it finds.
class Session {
public:
    Session()
    {
        base = QFileInfo(m_root.path()).canonicalFilePath();
        home = base + "/home";
    }

    // A Claude Code profile with a signed-in account whose collector wrote its
    // bridge file a moment ago (25 % of the five-hour window), and a Codex
    // profile whose server reports 75 % of its primary window.
    bool writeHome() const
    {
        const QString claude = home + "/.claude-work";
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
        QJsonObject bridge = QJsonDocument::fromJson(readFile(VANTOREL_TEST_DATA_DIR "/resources/fixtures/claude-bridge.json")).object();
        if (bridge.isEmpty())
            return false;
        bridge.insert("capturedAt", now);
        bridge.insert("rate_limits",
                      QJsonObject {{"five_hour", QJsonObject {{"used_percentage", 25}, {"resets_at", qint64(now) + 3600}}},
                                   {"seven_day", QJsonObject {{"used_percentage", 10}, {"resets_at", qint64(now) + 86400}}}});
        const QJsonObject window {{"usedPercent", 75}, {"windowDurationMins", 300}, {"resetsAt", kLater}};
        const QJsonObject scenario {
            {"methods", QJsonObject {{"account/rateLimits/read",
                                      QJsonObject {{"result", QJsonObject {{"accountId", "acct"},
                                                                          {"rateLimits", QJsonObject {{"primary", window}}}}}}}}}};
        return writeFile(claude + "/.claude.json",
                         R"({"oauthAccount": {"accountUuid": "11111111-2222-4333-8444-555555555555", "organizationUuid": "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee"}})")
            && writeFile(home + "/.local/share/Vantorel/statusline/work.json", QJsonDocument(bridge).toJson())
            && writeFile(home + "/.codex/auth.json", "{}")
            && writeFile(scenarioPath(), QJsonDocument(scenario).toJson())
            && QDir().mkpath(base + "/bin") && QFile::link(fakeProgram("fake_codex"), base + "/bin/codex");
    }

    QString scenarioPath() const { return base + "/codex-scenario.json"; }
    QString codexLog() const { return base + "/codex-log.jsonl"; }
    QString copilotScenarioPath() const { return base + "/copilot-scenario.json"; }
    QString copilotLog() const { return base + "/copilot-log.jsonl"; }
    QString settingsPath() const { return home + "/.config/Vantorel/Vantorel.conf"; }

    // A signed-in Copilot profile folder with one account, "octo", whose
    // premium requests are three quarters left; the fake copilot sits where
    // the program looks for it.
    bool writeCopilot() const
    {
        const QJsonObject auth {{"host", "https://github.com"}, {"login", "octo"}, {"type", "user"},
                                {"copilotUser", QJsonObject {{"copilot_plan", "individual_pro"}}}};
        const QJsonObject quota {{"quotaSnapshots",
                                  QJsonObject {{"premium_interactions",
                                                QJsonObject {{"isUnlimitedEntitlement", false}, {"remainingPercentage", 75},
                                                             {"resetDate", "2099-01-01T00:00:00Z"}}}}}};
        const QJsonObject scenario {
            {"log", copilotLog()},
            {"methods",
             QJsonObject {{"account.getAllUsers",
                           QJsonArray {QJsonObject {{"result", QJsonArray {QJsonObject {{"authInfo", auth}, {"selectionId", "sel-1"}}}}}}},
                          {"account.getQuota", QJsonArray {QJsonObject {{"result", quota}}}}}}};
        return writeFile(home + "/.copilot/config.json", "{}")
            && writeFile(copilotScenarioPath(), QJsonDocument(scenario).toJson())
            && QDir().mkpath(home + "/.local/bin") && QFile::link(fakeProgram("fake_copilot"), home + "/.local/bin/copilot");
    }

    QString codexPids() const { return base + "/codex-pids"; }
    QString copilotPids() const { return base + "/copilot-pids"; }

    // Both tools installed as wrapper scripts that start the fake as their
    // child, as package managers install them; each fake ignores SIGTERM and
    // never answers, so the program is waiting on both.
    bool wrapTools() const
    {
        const QJsonObject codex {{"ignoreSigterm", true},
                                 {"methods", QJsonObject {{"account/rateLimits/read", QJsonObject {{"never", true}}}}}};
        const QJsonObject copilot {{"log", copilotLog()}, {"ignoreTerm", true}, {"otherwise", QJsonArray {QJsonObject {{"hang", true}}}}};
        const QString codexCommand = base + "/bin/codex";
        const QString copilotCommand = home + "/.local/bin/copilot";
        return QFile::remove(codexCommand) && QFile::remove(copilotCommand)
            && writeWrapper(codexCommand, fakeProgram("fake_codex"), codexPids())
            && writeWrapper(copilotCommand, fakeProgram("fake_copilot"), copilotPids())
            && writeFile(scenarioPath(), QJsonDocument(codex).toJson())
            && writeFile(copilotScenarioPath(), QJsonDocument(copilot).toJson());
    }

    ProviderProfile codexProfile() const { return {UsageProvider::codex, home + "/.codex", "Codex", true, {}, {}}; }
    ProviderProfile copilotProfile() const
    {
        return {UsageProvider::copilot, home + "/.copilot", "octo", true,
                CopilotUsageClient::accountIdentifier("https://github.com", "octo"), {}};
    }

    // The settings a user left behind: reads every `interval` seconds, and
    // the Codex profile and the Copilot account shown.
    void writeSettings(double interval) const
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue(UsageStore::kRefreshIntervalKey, interval);
        settings.setValue(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList({codexProfile(), copilotProfile()}));
    }

    // The Codex snapshot the program saved last; none before its first read.
    std::optional<ProviderUsage> savedCodexSnapshot() const
    {
        const QSettings settings(settingsPath(), QSettings::IniFormat);
        const QByteArray data =
            settings.value(QStringLiteral("usageSnapshot.v3.") + codexProfile().id() + QStringLiteral(".codex")).toByteArray();
        try {
            return ProviderUsage::fromJson(json::parse(data));
        } catch (...) {
            return std::nullopt;
        }
    }

    void start()
    {
        ProcessEnvironment env = bareEnvironment(home);
        env.insert("DISPLAY", qEnvironmentVariable("DISPLAY"));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("PATH", base + "/bin:/usr/bin:/bin");
        env.insert("FAKE_CODEX_SCENARIO", scenarioPath());
        env.insert("FAKE_CODEX_LOG", codexLog());
        env.insert("FAKE_COPILOT_SCENARIO", copilotScenarioPath());
        app.emplace(startProgram(kProgram, {}, env));
    }

    // Waits for `condition` while reading the program's output; false when it
    // does not hold in time or the program ended.
    bool waitFor(const std::function<bool()>& condition, double seconds = kPatience)
    {
        const QDeadlineTimer deadline(qint64(seconds * 1000));
        for (;;) {
            QCoreApplication::processEvents();
            if (condition())
                return true;
            if (deadline.hasExpired())
                return false;
            if (app->waitUntil(app->deadlineAfter(0.05), CancelToken(), nullptr).kind != WaitOutcome::Kind::DeadlinePassed)
                return false;
        }
    }

    QByteArray errors() { return app ? app->errorTail() : QByteArray(); }

    QString base;
    QString home;
    std::optional<ChildProcess> app;

private:
    QTemporaryDir m_root;
};

} // namespace

class ProgramOnDesktopTest : public QObject {
    Q_OBJECT

    // The program's one panel window on the first screen's right edge.
    std::optional<quint64> panelWindow(Session& s) const
    {
        for (const quint64 window : windowsOf(s.app->pid(), true)) {
            const QRect frame = geometryOf(window);
            if (frame.isValid() && frame.right() == m_screen.right() && frame.height() < m_screen.height())
                return window;
        }
        return std::nullopt;
    }

    QImage grab(const QRect& rect) const
    {
        return QGuiApplication::primaryScreen()->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height()).toImage();
    }

    // Where the panel of two accounts lies in `mode`.
    QRect frameIn(EdgePanelMode mode) const
    {
        return EdgePanelController::windowRect(EdgePanelController::layoutFrame(mode, 2, m_available));
    }

    // Widens the panel under the pointer and opens its cards with a click.
    bool openCards(Session& s, quint64 panel) const
    {
        const QRect rings = frameIn(EdgePanelMode::rings);
        // Onto the strip's bar: with no compositing manager the window is shaped
        // to it, and the pointer beside it is over the desktop.
        const QPoint bar(rings.right() - 1, rings.center().y());
        movePointer(bar);
        if (!s.waitFor([&] { return geometryOf(panel) == rings; }))
            return false;
        click(bar);
        return s.waitFor([&] { return geometryOf(panel) == frameIn(EdgePanelMode::cards); });
    }

    QRect m_screen;
    QRect m_available;

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_screen = QGuiApplication::primaryScreen()->geometry();
        m_available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(QFileInfo(kProgram).isExecutable());
    }

    void runsOnTheDesktop()
    {
        movePointer(QPoint(100, 100));
        Session s;
        QVERIFY(s.writeHome());
        s.start();

        // The panel: a slim strip on the right edge.
        std::optional<quint64> panel;
        QVERIFY2(s.waitFor([&] { return (panel = panelWindow(s)).has_value(); }), s.errors().constData());
        const QRect strip = frameIn(EdgePanelMode::strip);
        QVERIFY(s.waitFor([&] { return geometryOf(*panel) == strip; }));

        // Both accounts loaded: each segment has its filled bar in its accent,
        // Claude Code above Codex, the fuller Codex bar the longer one.
        QImage picture;
        const auto bothLoaded = [&] {
            picture = grab(strip);
            return accentPixels(picture, UsageProvider::claude) > 0 && accentPixels(picture, UsageProvider::codex) > 0;
        };
        const bool loaded = s.waitFor(bothLoaded);
        uitest::save(picture, "program-strip");
        QVERIFY2(loaded, s.errors().constData());
        QVERIFY(s.waitFor([&] {
            picture = grab(strip);
            return accentPixels(picture, UsageProvider::codex) > 2 * accentPixels(picture, UsageProvider::claude);
        }));
        QVERIFY(accentRow(picture, UsageProvider::claude) < accentRow(picture, UsageProvider::codex));

        // "Настройки" in the cards opens the settings window.
        const auto pressSettings = [&] {
            if (geometryOf(*panel) != frameIn(EdgePanelMode::cards) && !openCards(s, *panel))
                return false;
            const QRect cards = frameIn(EdgePanelMode::cards);
            uitest::save(grab(cards), "program-cards");
            click(QPoint(cards.left() + 60, cards.bottom() - 22)); // the footer's first button
            return true;
        };
        QVERIFY2(pressSettings(), s.errors().constData());
        QList<quint64> settings;
        QVERIFY2(s.waitFor([&] { return !(settings = windowsOf(s.app->pid(), true, kSettingsTitle)).isEmpty(); }),
                 s.errors().constData());
        QCOMPARE(settings.size(), 1);
        const quint64 window = settings.first();
        uitest::save(grab(geometryOf(window)), "program-settings");
        // Its icon, for the task switcher, is the drawing the launcher entry names.
        const QImage icon = windowIcon(window);
        QVERIFY(!icon.isNull());
        uitest::save(icon, "program-window-icon");
        const QImage drawing =
            QIcon(QStringLiteral(VANTOREL_RESOURCES_DIR "/vantorel.svg")).pixmap(icon.size()).toImage().convertToFormat(
                QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(drawing.size(), icon.size());
        int differing = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                differing += !uitest::near(uitest::pixel(icon, x, y), uitest::pixel(drawing, x, y), 2);
        QCOMPARE(differing, 0);
        QVERIFY(uitest::countNear(icon, icon.rect(), QColor(0x33EBC7), 40) > 0);

        // Pressed again while it is open, and again once it is minimised,
        // "Настройки" keeps to that one window and brings it back. (Whether it
        // also takes the focus, or rises over another program's window, is the
        // window manager's call: openbox declines at times.)
        QVERIFY(pressSettings());
        // Asked again until it stays minimised: the press may bring it back meanwhile.
        QVERIFY(s.waitFor([&] {
            xdotool({QStringLiteral("windowminimize"), QString::number(window)});
            return windowsOf(s.app->pid(), true, kSettingsTitle).isEmpty();
        }));
        QVERIFY(pressSettings());
        QVERIFY2(s.waitFor([&] { return windowsOf(s.app->pid(), true, kSettingsTitle) == QList<quint64> {window}; }),
                 s.errors().constData());
        QCOMPARE(windowsOf(s.app->pid(), false, kSettingsTitle), QList<quint64> {window});

        // SIGTERM ends it at once and cleanly, with nothing of it left running.
        QCOMPARE(::kill(s.app->pid(), SIGTERM), 0);
        const WaitOutcome ended = s.app->waitUntil(s.app->deadlineAfter(2), CancelToken(), nullptr);
        QCOMPARE(int(ended.kind), int(WaitOutcome::Kind::Exited));
        QCOMPARE(ended.exit, (ExitStatus {false, 0}));
        QCOMPARE(processesUnder(s.base), QStringList {});
        // The fake codex was what answered the Codex profile.
        QVERIFY(readFile(s.codexLog()).contains("account/rateLimits/read"));
    }

    // With reads due every 2 s, the program keeps reading Codex and Copilot
    // for as long as it runs, and the Codex card's data stays as young.
    void keepsReadingOnItsInterval()
    {
        constexpr double kSpan = 12;
        Session s;
        QVERIFY(s.writeHome());
        QVERIFY(s.writeCopilot());
        s.writeSettings(2);
        s.start();

        const auto codexReads = [&] { return int(readFile(s.codexLog()).count("account/rateLimits/read")); };
        const auto copilotReads = [&] { return int(readFile(s.copilotLog()).count("account.getQuota")); };
        QVERIFY2(s.waitFor([&] { return codexReads() > 0 && copilotReads() > 0; }), s.errors().constData());
        const int codexFirst = codexReads();
        const int copilotFirst = copilotReads();
        QVERIFY(!s.waitFor([] { return false; }, kSpan)); // the program runs on meanwhile
        const int codexMore = codexReads() - codexFirst;
        const int copilotMore = copilotReads() - copilotFirst;
        qInfo("in %.0f s after the first reads: Codex read %d more times, Copilot %d more", kSpan, codexMore, copilotMore);
        QVERIFY2(codexMore >= 4, s.errors().constData());
        QVERIFY2(copilotMore >= 4, s.errors().constData());

        // The saved snapshot is what the Codex card shows, and its age label counts from its updatedAt.
        const std::optional<ProviderUsage> snapshot = s.savedCodexSnapshot();
        QVERIFY(snapshot && snapshot->updatedAt);
        const double age = SystemClock::shared().now().secondsSince(*snapshot->updatedAt);
        QVERIFY2(age < 5, qPrintable(QStringLiteral("the Codex data is %1 s old").arg(age)));

        QCOMPARE(::kill(s.app->pid(), SIGTERM), 0);
        const WaitOutcome ended = s.app->waitUntil(s.app->deadlineAfter(2), CancelToken(), nullptr);
        QCOMPARE(int(ended.kind), int(WaitOutcome::Kind::Exited));
        QCOMPARE(ended.exit, (ExitStatus {false, 0}));
        QCOMPARE(processesUnder(s.base), QStringList {});
    }

    // SIGTERM while the program waits on two tools installed as wrapper
    // scripts: it ends at once, and neither wrapper nor program stays, though
    // the programs ignore SIGTERM.
    void endsTheWrappedToolsWithIt()
    {
        Session s;
        QVERIFY(s.writeHome());
        QVERIFY(s.writeCopilot());
        QVERIFY(s.wrapTools());
        s.start();

        QVERIFY2(s.waitFor([&] {
            return loggedProcessIds(s.codexPids()).size() == 2 && loggedProcessIds(s.copilotPids()).size() == 2
                && readFile(s.codexLog()).contains("account/rateLimits/read")
                && readFile(s.copilotLog()).contains("account.getAllUsers");
        }),
                 s.errors().constData());
        const QStringList pids = loggedProcessIds(s.codexPids()) + loggedProcessIds(s.copilotPids());

        QCOMPARE(::kill(s.app->pid(), SIGTERM), 0);
        const WaitOutcome ended = s.app->waitUntil(s.app->deadlineAfter(2), CancelToken(), nullptr);
        QCOMPARE(int(ended.kind), int(WaitOutcome::Kind::Exited));
        QCOMPARE(ended.exit, (ExitStatus {false, 0}));
        // A killed process takes a moment to go.
        QTRY_COMPARE_WITH_TIMEOUT(runningProcesses(pids), QStringList(), 5000);
        QCOMPARE(processesUnder(s.base), QStringList {});
    }
};

VANTOREL_UI_TEST_MAIN(ProgramOnDesktopTest)
#include "test_program_on_desktop.moc"
