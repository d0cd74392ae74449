#include "settings/SettingsWindowPresenter.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

namespace {

// A window that reports itself to the presenter when it lands on screen, as the settings form does.
class AttachingWindow final : public QWidget {
protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        SettingsWindowPresenter::shared().attach(this);
    }
};

bool minimised(const QWidget* w)
{
    return w->windowState() & Qt::WindowMinimized;
}

} // namespace

class SettingsWindowPresenterTest : public QObject {
    Q_OBJECT

    // The framework's open action: a new window each time it is asked.
    int m_opened = 0;
    QPointer<QWidget> m_last;
    std::function<void()> open()
    {
        return [this] {
            ++m_opened;
            auto* w = new AttachingWindow;
            w->setAttribute(Qt::WA_DeleteOnClose);
            m_last = w;
            w->show();
        };
    }

private slots:
    void cleanup()
    {
        if (QWidget* w = SettingsWindowPresenter::shared().window())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_opened = 0;
    }

    void oneSharedPresenter()
    {
        QCOMPARE(&SettingsWindowPresenter::shared(), &SettingsWindowPresenter::shared());
        QVERIFY(!SettingsWindowPresenter::shared().window());
        QVERIFY(!SettingsWindowPresenter::shared().presentOnAttach());
    }

    // Without a window the request goes through the framework and presents on attach.
    void firstRequestCreatesAndPresents()
    {
        SettingsWindowPresenter& presenter = SettingsWindowPresenter::shared();
        presenter.present(open());
        QCOMPARE(m_opened, 1);
        QVERIFY(m_last);
        QCOMPARE(presenter.window(), m_last.data());
        QVERIFY(!presenter.presentOnAttach());
        QVERIFY(m_last->isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::activeWindow(), m_last.data());
    }

    // A minimised window is restored and fronted; no second window is made.
    void minimisedWindowIsRestored()
    {
        SettingsWindowPresenter& presenter = SettingsWindowPresenter::shared();
        presenter.present(open());
        QPointer<QWidget> first = m_last;
        first->setWindowState(Qt::WindowMinimized);
        QVERIFY(minimised(first));

        presenter.present(open());
        QCOMPARE(m_opened, 1);
        QCOMPARE(presenter.window(), first.data());
        QVERIFY(!minimised(first));
        QVERIFY(first->isVisible());
        QCOMPARE(QApplication::topLevelWidgets().count(first.data()), 1);
    }

    // After closing, the next request creates a window again; an attach
    // without a waiting request does not bring the window forward.
    void closedWindowIsForgotten()
    {
        SettingsWindowPresenter& presenter = SettingsWindowPresenter::shared();
        presenter.present(open());
        QPointer<QWidget> first = m_last;
        first->close();
        QVERIFY(!presenter.window());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);

        presenter.present(open());
        QCOMPARE(m_opened, 2);
        QPointer<QWidget> second = m_last;
        QCOMPARE(presenter.window(), second.data());

        second->setWindowState(Qt::WindowMinimized);
        presenter.attach(second);
        presenter.attach(second);
        QVERIFY(minimised(second));
        QCOMPARE(presenter.window(), second.data());

        // The window watched twice closes once.
        second->close();
        QVERIFY(!presenter.window());
    }

    // A window that goes away without closing is forgotten too.
    void destroyedWindowIsForgotten()
    {
        SettingsWindowPresenter& presenter = SettingsWindowPresenter::shared();
        presenter.present(open());
        delete m_last.data();
        QVERIFY(!presenter.window());
        presenter.present(open());
        QCOMPARE(m_opened, 2);
    }
};

VANTOREL_UI_TEST_MAIN(SettingsWindowPresenterTest)
#include "test_settings_window_presenter.moc"
