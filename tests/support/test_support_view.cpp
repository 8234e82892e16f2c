// The consent panel and the restart notice as real Qt Quick windows: the error line, and how closing
// reports. (Allow, Decline, Stop and Got it clicked on the real agent run in support_e2e.py.)

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
    for (QWindow *w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->title() == title)
            return qobject_cast<QQuickWindow *>(w);
    return nullptr;
}

} // namespace

// Window-manager hints are not what these tests look at.
class TestSupportView : public QObject, platform::WindowStacking {
    Q_OBJECT
    void keepInView(QWindow &) override { }

private Q_SLOTS:
    void errorLineAndClosingReportsOnce()
    {
        app::registerBrandFonts();
        const std::unique_ptr<QQmlEngine> engine = app::makeViewEngine();
        support::QuickSupportWindows windows(*engine, *this);
        support::SupportModel model;
        int closes = 0;
        auto panel = windows.showPanel(model, [&] { ++closes; });
        QQuickWindow *window = shownWindow(u"Pelk \u00b7 Remote support"_s);
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QQuickItem *error = fakes::findItem(window->contentItem(), u"error"_s);
        QVERIFY(!error->isVisible());
        model.setError(u"The main display is unavailable."_s);
        QVERIFY(error->isVisible());
        window->close(); // the close button: refused here, handed to the controller later
        QVERIFY(window->isVisible() && closes == 0);
        QTRY_COMPARE(closes, 1);
        panel.reset();
        QTRY_VERIFY(!shownWindow(u"Pelk \u00b7 Remote support"_s));

        // The notice: Got it, then the close button, report one closing.
        windows.showNotice(
            u"Restart when you\u2019re ready"_s, u"Firefox was changed"_s, u"Got it"_s, [&] { ++closes; });
        QQuickWindow *notice = shownWindow(u"Pelk Agent"_s);
        QVERIFY(notice && QTest::qWaitForWindowExposed(notice));
        QQuickItem *gotIt = fakes::findItem(notice->contentItem(), u"gotIt"_s);
        QTest::mouseClick(notice, Qt::LeftButton, {}, gotIt->mapToScene(gotIt->boundingRect().center()).toPoint());
        notice->close(); // after Got it: no second report
        QTRY_VERIFY(!shownWindow(u"Pelk Agent"_s));
        QCOMPARE(closes, 2);
    }
};

QTEST_MAIN(TestSupportView)
#include "test_support_view.moc"
