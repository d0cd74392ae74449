#include "platform/WakeSource.h"

#include "platform/ChildProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <optional>

// logind's signal, sent on a private bus of the test's own by a connection
// that owns logind's name there.
class WakeSourceTest : public QObject {
    Q_OBJECT

    std::optional<ChildProcess> m_daemon;
    QString m_address;

    QDBusConnection openBus(const QString& name)
    {
        return QDBusConnection::connectToBus(m_address, name);
    }

    static void emitPrepareForSleep(QDBusConnection& bus, bool sleeping, const QString& path = LogindWakeSource::kPath)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, LogindWakeSource::kInterface, LogindWakeSource::kSignal);
        signal << sleeping;
        QVERIFY(bus.send(signal));
    }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("no dbus-daemon on this machine");
        SpawnOptions options;
        options.program = daemon;
        options.arguments = {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")};
        options.stdoutMode = StreamMode::Pipe;
        m_daemon.emplace(ChildProcess::start(options));
        std::optional<QByteArray> line;
        const WaitOutcome outcome = m_daemon->waitUntil(m_daemon->deadlineAfter(10), CancelToken(), [&](QByteArray& out) {
            line = ChildProcess::takeLine(out);
            return line.has_value();
        });
        QCOMPARE(int(outcome.kind), int(WaitOutcome::Kind::Ready));
        m_address = QString::fromUtf8(line->trimmed());
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
        QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
        if (m_daemon)
            m_daemon->terminate(1.0);
    }

    void onlyTheWakeFromLogindCounts()
    {
        QDBusConnection listener = openBus(QStringLiteral("listener"));
        QDBusConnection logind = openBus(QStringLiteral("logind"));
        QDBusConnection impostor = openBus(QStringLiteral("impostor"));
        QVERIFY(listener.isConnected() && logind.isConnected() && impostor.isConnected());
        QVERIFY(logind.registerService(LogindWakeSource::kService));

        auto source = std::make_unique<LogindWakeSource>(listener);
        QVERIFY(source->isListening());
        QSignalSpy woke(source.get(), &WakeSource::woke);

        // Going to sleep, another sender, another path: none is a wake.
        emitPrepareForSleep(logind, true);
        emitPrepareForSleep(impostor, false);
        // A round trip: the bus has routed the impostor's signal before logind's next ones.
        QVERIFY(!impostor.interface()->isServiceRegistered(QStringLiteral("org.example.none")).value());
        emitPrepareForSleep(logind, false, QStringLiteral("/org/freedesktop/login1/other"));
        // The wake: bus messages keep their order, so the earlier ones have been seen once it arrives.
        emitPrepareForSleep(logind, false);
        QTRY_COMPARE(woke.count(), 1);
        emitPrepareForSleep(logind, false);
        QTRY_COMPARE(woke.count(), 2);

        // Gone: it has stopped listening.
        QObject probe;
        int after = 0;
        QObject::connect(source.get(), &WakeSource::woke, &probe, [&] { ++after; });
        source.reset();
        auto witness = std::make_unique<LogindWakeSource>(listener);
        QSignalSpy witnessWoke(witness.get(), &WakeSource::woke);
        emitPrepareForSleep(logind, false);
        QTRY_COMPARE(witnessWoke.count(), 1);
        QCOMPARE(after, 0);
    }

    void noBusHearsNothing()
    {
        LogindWakeSource source(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                               QStringLiteral("nowhere")));
        QVERIFY(!source.isListening());
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    }
};

QTEST_GUILESS_MAIN(WakeSourceTest)
#include "test_wake_source.moc"
