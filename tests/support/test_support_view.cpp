// The consent panel and the restart notice as real Qt Quick windows.

#include "app/BrandLook.h"
#include "app/ViewEngine.h"
#include "fakes/QuickItems.h"
#include "platform/WindowStacking.h"
#include "support/QuickSupportWindows.h"
#include "support/SupportModel.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace pelk;

namespace {

using fakes::findItem;

QQuickWindow *topWindow(const QString &title)
{
    for (QWindow *w : QGuiApplication::topLevelWindows()) {
        if (w->isVisible() && w->title() == title)
            return qobject_cast<QQuickWindow *>(w);
    }
    return nullptr;
}

void click(QQuickWindow *window, QQuickItem *item)
{
    QTest::mouseClick(
        window, Qt::LeftButton, {}, item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
}

} // namespace

// Window-manager hints are not what these tests look at.
class NoStacking : public pelk::platform::WindowStacking {
public:
    void keepInView(QWindow &) override { }
};

class TestSupportView : public QObject {
    Q_OBJECT
    std::unique_ptr<QQmlEngine> m_engine;
    NoStacking m_stacking;

private Q_SLOTS:
    void initTestCase()
    {
        app::registerBrandFonts();
        m_engine = app::makeViewEngine();
    }

    void panelFollowsTheModel()
    {
        support::QuickSupportWindows windows(*m_engine, m_stacking);
        support::SupportModel model;
        int allows = 0;
        int stops = 0;
        model.setActions([&] { ++allows; }, [&] { ++stops; });
        model.setTechnician(u"Dana"_s);
        model.setMode(u"control"_s);
        int closes = 0;
        auto panel = windows.showPanel(model, [&] { ++closes; });
        QVERIFY(panel);
        QQuickWindow *window = topWindow(u"Pelk \u00b7 Remote support"_s);
        QVERIFY(window);
        QCOMPARE(window->size(), QSize(488, 330));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(!(window->flags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QQuickItem *root = window->contentItem();
        QQuickItem *allow = findItem(root, u"allowButton"_s);
        QQuickItem *stop = findItem(root, u"stopButton"_s);
        QVERIFY(allow && stop);
        QCOMPARE(findItem(root, u"sentence"_s)->property("text").toString(),
            u"Dana is requesting permission to view your main display and control your keyboard and mouse."_s);
        QCOMPARE(allow->property("text").toString(), u"Allow view and control"_s);
        QVERIFY(!findItem(root, u"error"_s)->isVisible());
        click(window, allow);
        QCOMPARE(allows, 1);

        model.setBusy(true);
        model.setError(u"The main display is unavailable."_s);
        QCOMPARE(allow->property("text").toString(), u"Connecting\u2026"_s);
        QVERIFY(!allow->isEnabled());
        QVERIFY(findItem(root, u"error"_s)->isVisible());
        click(window, allow);
        QCOMPARE(allows, 1); // disabled while busy

        model.setBusy(false);
        model.setActive(true);
        QVERIFY(!allow->isVisible());
        QCOMPARE(stop->property("text").toString(), u"Stop sharing"_s);
        QCOMPARE(findItem(root, u"title"_s)->property("text").toString(), u"Your screen is being shared"_s);
        click(window, stop);
        QCOMPARE(stops, 1);

        window->close(); // the close button: refused here, handed to the controller later
        QVERIFY(window->isVisible());
        QCOMPARE(closes, 0);
        QTRY_COMPARE(closes, 1);
        panel.reset();
        QTRY_VERIFY(!topWindow(u"Pelk \u00b7 Remote support"_s));
    }

    void noticeIsNotModalAndClosesOnce()
    {
        support::QuickSupportWindows windows(*m_engine, m_stacking);
        int closed = 0;
        windows.showNotice(
            u"Restart when you\u2019re ready"_s, u"Firefox was changed"_s, u"Got it"_s, [&] { ++closed; });
        QQuickWindow *window = topWindow(u"Pelk Agent"_s);
        QVERIFY(window);
        QCOMPARE(window->modality(), Qt::NonModal);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QQuickItem *button = findItem(window->contentItem(), u"gotIt"_s);
        QCOMPARE(button->property("text").toString(), u"Got it"_s);
        QCOMPARE(findItem(window->contentItem(), u"message"_s)->property("text").toString(),
            u"Restart when you\u2019re ready"_s);
        click(window, button);
        window->close();
        QTRY_COMPARE(closed, 1);
        QTRY_VERIFY(!topWindow(u"Pelk Agent"_s));
        QTest::qWait(50);
        QCOMPARE(closed, 1);
    }
};

QTEST_MAIN(TestSupportView)
#include "test_support_view.moc"
