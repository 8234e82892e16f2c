#include "app/BrandLook.h"
#include "app/ViewEngine.h"
#include "fakes/QuickItems.h"
#include "lock/PinInput.h"
#include "lock/QuickLockScreens.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

using fakes::findItem;

class TestLockView : public QObject {
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<lock::QuickLockScreens> m_screens;
    std::unique_ptr<lock::LockSurface> m_surface;
    QQuickWindow *m_window = nullptr;
    QObject *m_view = nullptr;
    QStringList m_submitted;
    std::function<void(bool)> m_answer;

    QString pin() const { return m_view->property("pin").toString(); }
    bool failed() const { return m_view->property("failed").toBool(); }
    bool busy() const { return m_view->property("busy").toBool(); }
    QString status() const { return m_window->findChild<QObject *>(u"status"_s)->property("text").toString(); }
    int dotCount() const { return m_window->findChild<QObject *>(u"dots"_s)->property("count").toInt(); }
    QQuickItem *key(const QString &name) const { return findItem(m_window->contentItem(), u"key-"_s + name); }
    void click(const QString &name)
    {
        QQuickItem *k = key(name);
        QVERIFY(k);
        QTest::mouseClick(m_window, Qt::LeftButton, {}, k->mapToScene(QPointF(32, 32)).toPoint());
    }
    void setField(const QString &text) { m_window->findChild<QObject *>(u"pinField"_s)->setProperty("text", text); }

private Q_SLOTS:
    void initTestCase()
    {
        app::registerBrandFonts();
        m_engine = app::makeViewEngine();
        m_screens = std::make_unique<lock::QuickLockScreens>(*m_engine);
    }

    void init()
    {
        m_submitted.clear();
        m_answer = nullptr;
        m_surface = m_screens->createWindow(
            QRect(0, 0, 900, 900), QString(), false, [this](const QString &p, std::function<void(bool)> done) {
                m_submitted.append(p);
                m_answer = std::move(done);
            });
        QVERIFY(m_surface);
        m_surface->makeKeyAndOrderFront();
        m_window = qobject_cast<QQuickWindow *>(QGuiApplication::topLevelWindows().constLast());
        for (QWindow *w : QGuiApplication::topLevelWindows()) {
            if (w->isVisible() && w->winId() == m_surface->nativeHandle())
                m_window = qobject_cast<QQuickWindow *>(w);
        }
        QVERIFY(m_window);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_view = m_window->findChild<QObject *>(u"lockView"_s);
        QVERIFY(m_view);
        QTRY_VERIFY(m_window->findChild<QQuickItem *>(u"pinField"_s)->hasActiveFocus());
    }
    void cleanup()
    {
        m_surface.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void cleanupTestCase()
    {
        m_screens.reset();
        m_engine.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void pinFilter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("first twelve") << u"12345678901234567890"_s << u"123456789012"_s;
        QTest::newRow("other scripts") << u"\u0661\u0662\u0969x"_s << u"\u0661\u0662\u0969"_s;
        QTest::newRow("astral digit kept whole") << u"1\U0001D7D82"_s << u"1\U0001D7D82"_s;
        QTest::newRow("lone surrogate") << (u"1"_s + QChar(0xD835) + u"2"_s) << u"12"_s;
        QTest::newRow("nothing") << u" +-*#"_s << QString();
    }
    void pinFilter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QCOMPARE(lock::filterPin(typed), kept);
        QCOMPARE(lock::dropLastPinCharacter(u"1\U0001D7D8"_s), u"1"_s);
    }

    void keyboardDigitsAndReturn()
    {
        for (const char c : QByteArray("12ab34"))
            QTest::keyClick(m_window, c);
        QCOMPARE(pin(), u"1234"_s);
        QTest::keyClick(m_window, Qt::Key_5);
        QCOMPARE(key(u"go"_s)->opacity(), 0.4);
        QTest::keyClick(m_window, Qt::Key_Return);
        QVERIFY(m_submitted.isEmpty());
        QTest::keyClick(m_window, Qt::Key_6);
        QCOMPARE(key(u"go"_s)->opacity(), 1.0);
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_submitted, QStringList { u"123456"_s });
        QVERIFY(busy());
        QCOMPARE(status(), u"Checking\u2026"_s);

        // Busy: neither the keypad nor the keyboard changes anything, nothing is sent twice.
        click(u"7"_s);
        QTest::keyClick(m_window, Qt::Key_8);
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(pin(), u"123456"_s);
        QCOMPARE(m_submitted.size(), 1);
    }

    void rejectionThenTyping()
    {
        setField(u"12345678901234567890"_s);
        QCOMPARE(pin(), u"123456789012"_s);
        QCOMPARE(dotCount(), 12);
        click(u"go"_s);
        QCOMPARE(m_submitted.size(), 1);
        m_answer(false);
        QVERIFY(!busy());
        QVERIFY(failed());
        QCOMPARE(pin(), QString());
        QCOMPARE(dotCount(), 6);
        QCOMPARE(status(), u"PIN not accepted. Wait a moment and try again, or contact IT."_s);
        QTRY_VERIFY(m_window->findChild<QQuickItem *>(u"pinField"_s)->hasActiveFocus());
        QTRY_VERIFY(!m_view->property("shake").toBool()); // returns to its place afterwards

        click(u"del"_s);
        QVERIFY(failed()); // "del" alone keeps the rejection
        click(u"3"_s);
        QVERIFY(!failed());
        QCOMPARE(status(), u" "_s);
    }

    void keypadDotsAndLimit()
    {
        for (const QString &d : { u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s })
            click(d);
        QCOMPARE(pin(), u"1234567"_s);
        QCOMPARE(dotCount(), 7);
        for (int i = 0; i < 4; ++i)
            click(u"del"_s);
        QCOMPARE(pin(), u"123"_s);
        QCOMPARE(dotCount(), 6);
        // Only the circle is a key: its square's corner is not.
        QQuickItem *k = key(u"0"_s);
        QTest::mouseClick(m_window, Qt::LeftButton, {}, k->mapToScene(QPointF(2, 2)).toPoint());
        QCOMPARE(pin(), u"123"_s);
    }

    void escapeAndCloseDoNothing()
    {
        QTest::keyClick(m_window, Qt::Key_Escape);
        QVERIFY(!m_window->close());
        QVERIFY(m_window->isVisible());
    }

    void answerAfterWindowIsGoneIsHarmless()
    {
        setField(u"123456"_s);
        QTest::keyClick(m_window, Qt::Key_Return);
        QVERIFY(m_answer);
        auto answer = std::move(m_answer);
        m_surface.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        answer(false); // must not touch the destroyed view
    }
};

QTEST_MAIN(TestLockView)
#include "test_lock_view.moc"
