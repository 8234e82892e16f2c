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

using EntryRow = std::tuple<const char *, QString, QString, QString, int>;
Q_DECLARE_METATYPE(EntryRow)

// The lock window as the user meets it: what the keys and the keyboard do, what the PIN
// dots, the Unlock key and the status line show, and which PINs go out.
class TestLockView : public QObject {
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<lock::LockSurface> m_surface;
    QQuickWindow *m_window = nullptr;
    QStringList m_submitted;
    std::function<void(bool)> m_answer;

    QQuickItem *item(const QString &name) const { return fakes::findItem(m_window->contentItem(), name); }
    QString status() const { return item(u"status"_s)->property("text").toString(); }
    // The Unlock key: 0 off, 2 on (1: it looks one way and acts the other).
    int unlockKey() const { return item(u"key-go"_s)->isEnabled() + (item(u"key-go"_s)->opacity() == 1.0); }
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
    }
    void init()
    {
        m_submitted.clear();
        m_surface = lock::QuickLockScreens(*m_engine).createWindow(
            QRect(0, 0, 900, 900), QString(), false, [this](const QString &p, auto done) {
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
        QVERIFY(!item(u"key-1"_s)->isVisible()); // no pad before the lock holds the input
        m_surface->setInputHeld(true);
        QTRY_VERIFY(item(u"pinField"_s)->hasActiveFocus());
    }
    void cleanup()
    {
        m_surface.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A screen too short for the pad shows all of it, smaller, and its keys still work.
    void shortScreenShowsEverything()
    {
        m_window->resize(800, 500);
        const QRectF screen(-1, -1, 802, 502); // centred to the half pixel
        QQuickItem *stack = item(u"stack"_s);
        QTRY_VERIFY(screen.contains(stack->mapRectToScene(QRectF(QPointF(), stack->size()))));
        click(u"4"_s);
        QCOMPARE(dots().first, 1);
    }

    // What is pasted, then the keys clicked ("0!" clicks the corner of the 0 key's square), and
    // what Return sends then (null: nothing): only Unicode numbers count, whole code points, at
    // most twelve; "del" takes the last one; Unlock sends from six on.
    void entry_data()
    {
        QTest::addColumn<EntryRow>("row");
        for (const EntryRow &row : std::initializer_list<EntryRow> {
                 { "first twelve", u"12345678901234567890"_s, u"go"_s, u"123456789012"_s, 12 },
                 { "five", u"12345"_s, u"go"_s, {}, 5 }, { "keypad", {}, u"1 2 3 4 5 6 7 go"_s, u"1234567"_s, 7 },
                 { "keypad stops at twelve", u"12345678901"_s, u"2 3 4 go"_s, u"123456789012"_s, 12 },
                 { "delete", u"1234567"_s, u"del del del del go"_s, {}, 3 },
                 { "only the circle is a key", u"12345"_s, u"0! go"_s, {}, 5 },
                 { "other scripts", u"\u0661\u0662\u0969x½98"_s, u"go"_s, u"\u0661\u0662\u0969½98"_s, 6 },
                 { "astral digit whole", u"1\U0001D7D82345"_s, u"go"_s, u"1\U0001D7D82345"_s, 6 },
                 { "astral digit deleted whole", u"9\U0001D7D8"_s, u"del 1 2 3 4 5 go"_s, u"912345"_s, 6 },
                 { "lone surrogate", u"1"_s + QChar(0xD835) + u"23456"_s, u"go"_s, u"123456"_s, 6 },
                 { "no numbers", u" +-*#abc"_s, u"go"_s, {}, 0 } })
            QTest::newRow(std::get<0>(row)) << row;
    }
    void entry()
    {
        QFETCH(EntryRow, row);
        const auto &[name, pasted, keys, sent, filled] = row;
        type(pasted);
        for (const QString &key : keys.split(u' '))
            key.endsWith(u'!') ? click(key.chopped(1), QPointF(2, 2)) : click(key);
        QCOMPARE(dots(), std::pair(filled, std::max(6, filled)));
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_submitted, sent.isNull() ? QStringList() : QStringList { sent });
    }

    // The field has no cursor: editing keys move and undo nothing; numbers go to the end and
    // Backspace, with or without Control, takes the last one.
    void noCursorNoEditing()
    {
        const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = { { Qt::Key_1, {} }, { Qt::Key_2, {} },
            { Qt::Key_3, {} }, { Qt::Key_Home, {} }, { Qt::Key_Left, {} }, { Qt::Key_4, {} },
            { Qt::Key_A, Qt::ControlModifier }, { Qt::Key_5, {} }, { Qt::Key_Z, Qt::ControlModifier },
            { Qt::Key_Backspace, {} }, { Qt::Key_Backspace, Qt::ControlModifier }, { Qt::Key_Delete, {} },
            { Qt::Key_6, {} }, { Qt::Key_7, {} }, { Qt::Key_8, {} }, { Qt::Key_Return, {} } };
        for (const auto &[key, modifiers] : keys)
            QTest::keyClick(m_window, key, modifiers);
        QCOMPARE(m_submitted, QStringList { u"123678"_s });
    }

    // Typed on the keyboard; while the agent thinks nothing changes; a no clears the PIN and says
    // so until the next number; an answer after the window is gone is harmless.
    void keyboardThenRejection()
    {
        for (const char c : QByteArray("12ab345"))
            QTest::keyClick(m_window, c);
        QTest::keyClick(m_window, Qt::Key_Enter);
        QVERIFY(m_submitted.isEmpty());
        QCOMPARE(unlockKey(), 0);
        QTest::keyClick(m_window, Qt::Key_6);
        QCOMPARE(unlockKey(), 2);
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_submitted, QStringList { u"123456"_s });
        QCOMPARE(status(), u"Checking\u2026"_s);

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

        type(u"123456"_s);
        QTest::keyClick(m_window, Qt::Key_Return);
        auto answer = std::move(m_answer);
        cleanup();
        answer(false); // must not touch the destroyed view
    }
};

QTEST_MAIN(TestLockView)
#include "test_lock_view.moc"
