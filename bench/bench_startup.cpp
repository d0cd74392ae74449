// Starts the built program on a private Xvfb display with a temporary home of
// 8 visible profiles (4 Claude Code, 4 Codex, answered by the fake programs),
// and prints: the time from the process start to its first mapped window, its
// resident memory 100 s after that, its voluntary context switches (wake-ups)
// over 60 s once the first reads have settled and the idle workers have ended,
// with the panel collapsed and no refresh due, and how long SIGTERM takes to end it.
// Then it starts the program again with two Codex profiles read every 60 s and
// prints the wake-ups over a span in which reads are due, by thread, against
// the reads the fake codex saw.
//
// Usage: bench_startup [seconds] [due-seconds]   (the idle span, 60 by default;
//                                                 the span with reads due, 180 by default)

#include "accounts/ProfileDiscovery.h"
#include "accounts/UsageAccounts.h"
#include "accounts/UsageStore.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessEnvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <csignal>
#include <optional>
#include <poll.h>
#include <xcb/xcb.h>

namespace {

const QString kFakes = QStringLiteral(VANTOREL_FAKES_DIR);

double now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A free display number, judged by the X socket folder.
int freeDisplay()
{
    for (int n = 90; n < 200; ++n) {
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))
            && !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            return n;
    }
    return -1;
}

// A counter line of /proc/<pid>/task/*/status, by thread.
QMap<QString, long> taskCounters(pid_t pid, const char* name)
{
    QMap<QString, long> counters;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks + "/" + task + "/status");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith(name))
                counters[task] = line.mid(qsizetype(qstrlen(name))).trimmed().toLong();
        }
    }
    return counters;
}

QString threadName(pid_t pid, const QString& task)
{
    QFile f(QStringLiteral("/proc/%1/task/%2/comm").arg(pid).arg(task));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().trimmed()) : QString();
}

// Voluntary context switches of every thread seen during a span, sampled
// often, so a thread that starts and ends within the span still counts
// (up to its last sample).
class SwitchSampler {
public:
    explicit SwitchSampler(pid_t pid) : m_pid(pid), m_base(taskCounters(pid, "voluntary_ctxt_switches:"))
    {
        sample();
    }

    void sample()
    {
        const QMap<QString, long> now = taskCounters(m_pid, "voluntary_ctxt_switches:");
        for (auto it = now.begin(); it != now.end(); ++it) {
            m_last[it.key()] = it.value();
            if (!m_names.contains(it.key()))
                m_names[it.key()] = threadName(m_pid, it.key());
        }
    }

    // Switches added in the span, by thread name.
    QMap<QString, long> byName() const
    {
        QMap<QString, long> out;
        for (auto it = m_last.begin(); it != m_last.end(); ++it)
            out[m_names.value(it.key())] += it.value() - m_base.value(it.key(), 0);
        return out;
    }
    int threadsSeen() const { return int(m_last.size()); }

private:
    pid_t m_pid;
    QMap<QString, long> m_base;
    QMap<QString, long> m_last;
    QMap<QString, QString> m_names;
};

// What the threads alive at the end added since `before` (a thread that ended
// meanwhile takes its count with it: a lower bound).
long addedSince(const QMap<QString, long>& before, const QMap<QString, long>& after)
{
    long total = 0;
    for (auto it = after.begin(); it != after.end(); ++it)
        total += it.value() - before.value(it.key(), 0);
    return total;
}

long residentKilobytes(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Waits for the first MapNotify among the root's children; none on timeout.
std::optional<xcb_window_t> waitForMap(xcb_connection_t* x, double deadline)
{
    const int fd = xcb_get_file_descriptor(x);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            std::optional<xcb_window_t> mapped;
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                mapped = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
            free(event);
            if (mapped)
                return mapped;
        }
        const double left = deadline - now();
        if (left <= 0 || xcb_connection_has_error(x))
            return std::nullopt;
        pollfd p {fd, POLLIN, 0};
        poll(&p, 1, int(left * 1000) + 1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double span = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 60.0;
    const double dueSpan = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 180.0;
    const QString program = QDir::cleanPath(kFakes + "/../vantorel");
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty() || !QFileInfo(program).isExecutable()) {
        std::fprintf(stderr, "needs Xvfb and the built program at %s\n", qPrintable(program));
        return 2;
    }

    QTemporaryDir root;
    const QString home = root.filePath("home");
    QList<ProviderProfile> profiles;
    for (int i = 1; i <= 4; ++i) {
        const QString claude = home + QStringLiteral("/.claude-%1").arg(i);
        write(claude + "/.claude.json", QJsonDocument(QJsonObject {{"oauthAccount", QJsonObject {{"accountUuid", QString("a-%1").arg(i)}, {"organizationUuid", "o"}}}}).toJson());
        write(claude + "/settings.json", "{}\n");
        profiles << ProviderProfile {UsageProvider::claude, claude, QStringLiteral("Claude %1").arg(i), true, {}, {}};
        const QString codex = home + QStringLiteral("/.codex-%1").arg(i);
        write(codex + "/auth.json", "{}");
        profiles << ProviderProfile {UsageProvider::codex, codex, QStringLiteral("Codex %1").arg(i), true, {}, {}};
    }
    {
        QSettings settings(home + "/.config/Vantorel/Vantorel.conf", QSettings::IniFormat);
        settings.setValue(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList(profiles));
    }
    // The fake programs where the clients look for the real ones.
    for (const char* tool : {"claude", "codex"}) {
        QDir().mkpath(home + "/.local/bin");
        QFile::link(kFakes + "/fake_" + tool, home + "/.local/bin/" + tool);
    }
    const QString resets = QDateTime::currentDateTimeUtc().addSecs(3600).toString(Qt::ISODate);
    const QJsonObject claudeUsage {
        {"rate_limits_available", true},
        {"subscription_type", "max"},
        {"rate_limits", QJsonObject {{"five_hour", QJsonObject {{"utilization", 10}, {"resets_at", resets}}},
                                     {"seven_day", QJsonObject {{"utilization", 40}, {"resets_at", resets}}}}}};
    write(root.filePath("claude.json"),
          QJsonDocument(QJsonObject {{"steps", QJsonArray {QJsonObject {{"respond", QJsonObject {{"subtype", "success"}, {"response", claudeUsage}}}}}}}).toJson());
    const QJsonObject window {{"usedPercent", 25}, {"windowDurationMins", 300}, {"resetsAt", qint64(4'102'444'800)}};
    write(root.filePath("codex.json"),
          QJsonDocument(QJsonObject {{"methods", QJsonObject {{"initialize", QJsonObject {{"result", QJsonObject {}}}},
                                                              {"account/rateLimits/read", QJsonObject {{"result", QJsonObject {{"accountId", "acct"}, {"rateLimits", QJsonObject {{"primary", window}, {"planType", "plus"}}}}}}}}}}).toJson());

    const int display = freeDisplay();
    SpawnOptions server;
    server.program = xvfb;
    server.arguments = {QStringLiteral(":%1").arg(display), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"};
    ChildProcess xserver = ChildProcess::start(server);
    xcb_connection_t* x = nullptr;
    for (int attempt = 0; attempt < 200; ++attempt) {
        x = xcb_connect(qPrintable(QStringLiteral(":%1").arg(display)), nullptr);
        if (!xcb_connection_has_error(x))
            break;
        xcb_disconnect(x);
        x = nullptr;
        QThread::msleep(25);
    }
    if (!x) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    ProcessEnvironment env = systemEnvironment();
    for (const QString& key : env.keys()) {
        if (key.startsWith(QLatin1String("XDG_")) || key.startsWith(QLatin1String("QT_")) || key == "WAYLAND_DISPLAY")
            env.remove(key);
    }
    env.insert("HOME", home);
    env.insert("DISPLAY", QStringLiteral(":%1").arg(display));
    env.insert("FAKE_CLAUDE_SCENARIO", root.filePath("claude.json"));
    env.insert("FAKE_CODEX_SCENARIO", root.filePath("codex.json"));
    SpawnOptions options;
    options.program = program;
    options.environment = env;
    options.terminateGrace = 5;

    const double started = now();
    ChildProcess vantorel = ChildProcess::start(options);
    const std::optional<xcb_window_t> mappedWindow = waitForMap(x, started + 30);
    if (!mappedWindow) {
        std::fprintf(stderr, "no window was mapped within 30 s\n");
        return 1;
    }
    const double mapped = now();
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(x, xcb_get_geometry(x, *mappedWindow), nullptr);
    std::printf("start to first panel mapped: %.0f ms (a %dx%d window at %d,%d)\n", (mapped - started) * 1000,
                geometry ? geometry->width : 0, geometry ? geometry->height : 0, geometry ? geometry->x : 0,
                geometry ? geometry->y : 0);
    free(geometry);
    std::fflush(stdout);

    // The first reads and the collector set-up are over after a few seconds, and
    // the idle worker threads end 30 s after their last task.
    constexpr double kSettle = 40;
    QThread::msleep(static_cast<unsigned long>(kSettle * 1000));
    const QMap<QString, long> voluntaryBefore = taskCounters(vantorel.pid(), "voluntary_ctxt_switches:");
    const QMap<QString, long> involuntaryBefore = taskCounters(vantorel.pid(), "nonvoluntary_ctxt_switches:");
    QThread::msleep(static_cast<unsigned long>(span * 1000));
    const QMap<QString, long> voluntaryAfter = taskCounters(vantorel.pid(), "voluntary_ctxt_switches:");
    const long voluntary = addedSince(voluntaryBefore, voluntaryAfter);
    std::printf("resident memory after %.0f s: %ld KiB\n", span + kSettle, residentKilobytes(vantorel.pid()));
    std::printf("voluntary context switches over %.0f s: %ld (%.2f/s; threads %lld then %lld); involuntary %ld\n",
                span, voluntary, double(voluntary) / span, qlonglong(voluntaryBefore.size()),
                qlonglong(voluntaryAfter.size()),
                addedSince(involuntaryBefore, taskCounters(vantorel.pid(), "nonvoluntary_ctxt_switches:")));

    const double term = now();
    ::kill(vantorel.pid(), SIGTERM);
    const WaitOutcome outcome = vantorel.waitUntil(vantorel.deadlineAfter(10), CancelToken(), nullptr);
    std::printf("SIGTERM to exit: %.0f ms, status %s %d\n", (now() - term) * 1000,
                outcome.exit.signalled ? "signal" : "exit", outcome.exit.code);
    std::fflush(stdout);

    // Reads due: two Codex profiles read every 60 s.
    constexpr double kDueInterval = 60;
    const QString dueHome = root.filePath("due-home");
    QList<ProviderProfile> dueProfiles;
    for (int i = 1; i <= 2; ++i) {
        const QString codex = dueHome + QStringLiteral("/.codex-%1").arg(i);
        write(codex + "/auth.json", "{}");
        dueProfiles << ProviderProfile {UsageProvider::codex, codex, QStringLiteral("Codex %1").arg(i), true, {}, {}};
    }
    {
        QSettings settings(dueHome + "/.config/Vantorel/Vantorel.conf", QSettings::IniFormat);
        settings.setValue(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList(dueProfiles));
        settings.setValue(UsageStore::kRefreshIntervalKey, kDueInterval);
    }
    QDir().mkpath(dueHome + "/.local/bin");
    QFile::link(kFakes + "/fake_codex", dueHome + "/.local/bin/codex");
    const QString codexLog = root.filePath("due-codex-log.jsonl");
    const auto readsMade = [&] {
        QFile f(codexLog);
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("account/rateLimits/read")) : 0;
    };
    options.environment->insert("HOME", dueHome);
    options.environment->insert("FAKE_CODEX_LOG", codexLog);
    ChildProcess due = ChildProcess::start(options);
    const double dueStarted = now();
    while (readsMade() < dueProfiles.size() && now() - dueStarted < 30)
        QThread::msleep(50);
    if (readsMade() < dueProfiles.size()) {
        std::fprintf(stderr, "the first reads did not come within 30 s\n");
        return 1;
    }
    // Past the start-up work, still within the first interval.
    QThread::msleep(10'000);
    const int readsBefore = readsMade();
    SwitchSampler sampler(due.pid());
    for (const double until = now() + dueSpan; now() < until;) {
        QThread::msleep(250);
        sampler.sample();
    }
    const int reads = readsMade() - readsBefore;
    const QMap<QString, long> byName = sampler.byName();
    long dueSwitches = 0;
    QStringList parts;
    for (auto it = byName.begin(); it != byName.end(); ++it) {
        dueSwitches += it.value();
        parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    }
    std::printf("reads due every %.0f s, %lld Codex profiles, over %.0f s: %d reads, %ld voluntary context switches "
                "(%.1f per read; %d threads seen)\n",
                kDueInterval, qlonglong(dueProfiles.size()), dueSpan, reads, dueSwitches,
                reads > 0 ? double(dueSwitches) / reads : 0.0, sampler.threadsSeen());
    std::printf("  by thread: %s\n", qPrintable(parts.join(QStringLiteral(", "))));
    ::kill(due.pid(), SIGTERM);
    due.waitUntil(due.deadlineAfter(10), CancelToken(), nullptr);
    xcb_disconnect(x);
    xserver.terminate(2);
    return 0;
}
