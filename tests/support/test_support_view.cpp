// The consent panel and the restart notice as real Qt Quick windows. (Allow, Decline and Stop
// clicked on the real agent, and the notice's once-per-id rule, run in support_e2e.py.)

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

QQuickWindow *shownWindow(const QString &title)
{
    for (QWindow *w : QGuiApplication::topLevelWindows()) {
        if (w->isVisible() && w->title() == title)
            return qobject_cast<QQuickWindow *>(w);
    }
    return nullptr;
}

QQuickItem *clicked(QQuickWindow *window, const QString &name)
{
    QQuickItem *item = fakes::findItem(window->contentItem(), name);
    if (item)
        QTest::mouseClick(window, Qt::LeftButton, {}, item->mapToScene(item->boundingRect().center()).toPoint());
    return item;
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
        int closes = 0;
        model.setActions([&] { ++allows; }, [&] { ++stops; });
        model.setTechnician(u"Dana"_s);
        auto panel = windows.showPanel(model, [&] { ++closes; });
        QQuickWindow *window = shownWindow(u"Pelk \u00b7 Remote support"_s);
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QCOMPARE(fakes::findItem(window->contentItem(), u"sentence"_s)->property("text").toString(), model.sentence());
        QVERIFY(!fakes::findItem(window->contentItem(), u"error"_s)->isVisible());
        model.setBusy(true);
        model.setError(u"The main display is unavailable."_s);
        QVERIFY(fakes::findItem(window->contentItem(), u"error"_s)->isVisible());
        QVERIFY(clicked(window, u"allowButton"_s));
        QCOMPARE(allows, 0); // disabled while busy
        model.setBusy(false);
        clicked(window, u"allowButton"_s);
        QCOMPARE(allows, 1);
        model.setActive(true);
        QVERIFY(!fakes::findItem(window->contentItem(), u"allowButton"_s)->isVisible());
        clicked(window, u"stopButton"_s);
        QCOMPARE(stops, 1);
        window->close(); // the close button: refused here, handed to the controller later
        QVERIFY(window->isVisible());
        QCOMPARE(closes, 0);
        QTRY_COMPARE(closes, 1);
        panel.reset();
        QTRY_VERIFY(!shownWindow(u"Pelk \u00b7 Remote support"_s));
    }

    void noticeIsNotModalAndClosesOnce()
    {
        support::QuickSupportWindows windows(*m_engine, m_stacking);
        int closed = 0;
        windows.showNotice(
            u"Restart when you\u2019re ready"_s, u"Firefox was changed"_s, u"Got it"_s, [&] { ++closed; });
        QQuickWindow *window = shownWindow(u"Pelk Agent"_s);
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->modality(), Qt::NonModal);
        QVERIFY(clicked(window, u"gotIt"_s));
        window->close(); // after Got it: no second report
        QTRY_COMPARE(closed, 1);
        QTRY_VERIFY(!shownWindow(u"Pelk Agent"_s));
        QCOMPARE(closed, 1);
    }
};

QTEST_MAIN(TestSupportView)
#include "test_support_view.moc"
