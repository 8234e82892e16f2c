#include "app/BrandLook.h"
#include "app/ViewEngine.h"
#include "fakes/QuickItems.h"
#include "lock/QuickLockScreens.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

// The lock window as the user meets it: what the keys and the keyboard do, what the PIN
// dots, the Unlock key and the status line show, and which PINs go out.
class TestLockView : public QObject {
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<lock::QuickLockScreens> m_screens;
    std::unique_ptr<lock::LockSurface> m_surface;
    QQuickWindow *m_window = nullptr;
    QStringList m_submitted;
    std::function<void(bool)> m_answer;

    QQuickItem *item(const QString &name) const { return fakes::findItem(m_window->contentItem(), name); }
    QString status() const { return item(u"status"_s)->property("text").toString(); }
    bool goEnabled() const { return item(u"key-go"_s)->isEnabled() && item(u"key-go"_s)->opacity() == 1.0; }
    // Filled dots, and all dots.
    std::pair<int, int> dots() const
    {
        int filled = 0;
        const QList<QQuickItem *> all = item(u"dotRow"_s)->childItems();
        for (const QQuickItem *dot : all)
            filled += dot->property("color").value<QColor>() == Qt::white;
        return { filled, int(all.size()) - 1 }; // the Repeater is a child too
    }
    void click(const QString &key, QPointF at = QPointF(32, 32))
    {
        QTest::mouseClick(m_window, Qt::LeftButton, {}, item(u"key-"_s + key)->mapToScene(at).toPoint());
    }
    void type(const QString &text) { item(u"pinField"_s)->setProperty("text", text); }

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
        m_surface
            = m_screens->createWindow(QRect(0, 0, 900, 900), QString(), false, [this](const QString &p, auto done) {
                  m_submitted.append(p);
                  m_answer = std::move(done);
              });
        QVERIFY(m_surface);
        m_surface->makeKeyAndOrderFront();
        for (QWindow *w : QGuiApplication::topLevelWindows()) {
            if (w->isVisible() && w->winId() == m_surface->nativeHandle())
                m_window = qobject_cast<QQuickWindow *>(w);
        }
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTRY_VERIFY(item(u"pinField"_s)->hasActiveFocus());
    }
    void cleanup()
    {
        m_surface.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // What is typed or pasted keeps only Unicode numbers, whole code points, at most twelve;
    // Unlock sends it from six on.
    void typedPin_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent"); // empty: Unlock stays disabled
        QTest::addColumn<int>("filled");
        QTest::newRow("first twelve") << u"12345678901234567890"_s << u"123456789012"_s << 12;
        QTest::newRow("six") << u"123456"_s << u"123456"_s << 6;
        QTest::newRow("five") << u"12345"_s << QString() << 5;
        QTest::newRow("other scripts") << u"\u0661\u0662\u0969x½98"_s << u"\u0661\u0662\u0969½98"_s << 6;
        QTest::newRow("astral digit whole") << u"1\U0001D7D82345"_s << u"1\U0001D7D82345"_s << 6;
        QTest::newRow("lone surrogate") << (u"1"_s + QChar(0xD835) + u"23456"_s) << u"123456"_s << 6;
        QTest::newRow("no numbers") << u" +-*#abc"_s << QString() << 0;
    }
    void typedPin()
    {
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        QFETCH(int, filled);
        type(typed);
        QCOMPARE(dots().first, filled);
        QCOMPARE(dots().second, std::max(6, filled));
        QCOMPARE(goEnabled(), !sent.isEmpty());
        click(u"go"_s);
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_submitted, sent.isEmpty() ? QStringList() : QStringList { sent });
    }

    void keyboardThenRejection()
    {
        for (const char c : QByteArray("12ab345"))
            QTest::keyClick(m_window, c);
        QTest::keyClick(m_window, Qt::Key_Return);
        QVERIFY(m_submitted.isEmpty());
        QTest::keyClick(m_window, Qt::Key_6);
        QTest::keyClick(m_window, Qt::Key_Enter);
        QCOMPARE(m_submitted, QStringList { u"123456"_s });
        QCOMPARE(status(), u"Checking\u2026"_s);

        // While the agent thinks neither the keypad nor the keyboard changes anything.
        click(u"7"_s);
        QTest::keyClick(m_window, Qt::Key_8);
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(dots().first, 6);
        QCOMPARE(m_submitted.size(), 1);

        m_answer(false);
        QCOMPARE(status(), u"PIN not accepted. Wait a moment and try again, or contact IT."_s);
        QCOMPARE(dots(), std::pair(0, 6));
        QTRY_VERIFY(item(u"pinField"_s)->hasActiveFocus());
        click(u"del"_s);
        QVERIFY(status().startsWith(u"PIN not accepted"_s)); // "del" alone keeps the rejection
        click(u"3"_s);
        QCOMPARE(status(), u" "_s);
        QCOMPARE(dots().first, 1);
    }

    void keypadAndDelete()
    {
        for (const QString &d : { u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s })
            click(d);
        QCOMPARE(dots(), std::pair(7, 7));
        for (int i = 0; i < 4; ++i)
            click(u"del"_s);
        QCOMPARE(dots(), std::pair(3, 6));
        click(u"0"_s, QPointF(2, 2)); // only the circle is a key, not its square's corner
        QCOMPARE(dots().first, 3);
        type(u"9\U0001D7D8"_s);
        click(u"del"_s); // a digit outside the BMP goes whole
        click(u"1"_s);
        type(item(u"pinField"_s)->property("text").toString() + u"2345"_s);
        click(u"go"_s);
        QCOMPARE(m_submitted, QStringList { u"912345"_s });
    }

    void escapeAndCloseDoNothing()
    {
        QTest::keyClick(m_window, Qt::Key_Escape);
        QVERIFY(!m_window->close());
        QVERIFY(m_window->isVisible());
    }

    void answerAfterWindowIsGoneIsHarmless()
    {
        type(u"123456"_s);
        QTest::keyClick(m_window, Qt::Key_Return);
        auto answer = std::move(m_answer);
        cleanup();
        answer(false); // must not touch the destroyed view
    }
};

QTEST_MAIN(TestLockView)
#include "test_lock_view.moc"
