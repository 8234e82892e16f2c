#include "AgentModelFixture.h"
#include "app/BrandLook.h"
#include "app/ViewEngine.h"
#include "fakes/QuickItems.h"

#include <QMimeData>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

// The setup window as the person sees it, over the agent model's fixture.
class TestSetupView : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;

    QQuickItem *item(const char *name)
    {
        QQuickItem *found = fakes::findItem(m_window->contentItem(), QLatin1StringView(name));
        return found ? found : (qFatal("no item %s", name), nullptr);
    }
    QString text(const char *name) { return item(name)->property("text").toString(); }
    bool shown(const char *name) { return item(name)->isVisible(); }

private Q_SLOTS:
    void initTestCase() { app::registerBrandFonts(); }
    void init()
    {
        f = std::make_unique<testing::AgentModelFixture>();
        m_engine = app::makeViewEngine();
        QQmlComponent component(m_engine.get());
        component.setData("import Pelk.Agent\nSetupWindow {}\n", QUrl(u"qrc:/test/SetupWindowLoader.qml"_s));
        m_window.reset(qobject_cast<QQuickWindow *>(
            component.createWithInitialProperties({ { u"model"_s, QVariant::fromValue<QObject *>(f->model.get()) } })));
        QVERIFY2(m_window, qPrintable(component.errorString()));
    }
    void cleanup() { m_window.reset(), m_engine.reset(), f.reset(); }

    // The card's title, the parts shown and the import button, by phase and selection.
    void cardFollowsPhaseAndSelection_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("card");
        QTest::newRow("connected") << QByteArray(R"("phase":"connected","browser_history_enabled":true)") << false
                                   << u"Your device is connected | connectedGroup changeButton | "_s;
        QTest::newRow("connected, selected")
            << QByteArray(R"("phase":"connected")") << true
            << u"Your device is connected | dropArea selectedFile connectedGroup | Replace enrollment"_s;
        QTest::newRow("revoked, selected")
            << QByteArray(R"("phase":"revoked")") << true
            << u"Device removed from Pelk | dropArea selectedFile | Connect to workspace"_s;
        QTest::newRow("offline") << QByteArray(R"("phase":"offline")") << false
                                 << u"Connect your device | dropArea | "_s;
        QTest::newRow("connected, check-in unreadable")
            << QByteArray(R"("phase":"connected","last_checkin":"yesterday")") << false
            << u"Your device is connected | changeButton | "_s;
    }
    void cardFollowsPhaseAndSelection()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, selected);
        f->status(status.contains("last_checkin") ? status : R"("last_checkin":"2026-05-01T09:29:15Z",)" + status);
        if (selected)
            f->import().loadFile(f->enrollment("e.json"));
        QStringList parts;
        for (const char *name : { "dropArea", "selectedFile", "connectedGroup", "changeButton" })
            if (shown(name))
                parts << QString::fromLatin1(name);
        QTEST(QString(text("title") + u" | "_s + parts.join(u' ') + u" | "_s
                  + (selected ? text("importButton") : QString())),
            "card");
        if (shown("connectedGroup"))
            QCOMPARE(text("websiteReporting").startsWith(u"Website reporting is on"_s), status.contains("history"));
    }

    void errorLineCancelAndImport()
    {
        f->import().loadFile(f->enrollment("good.json"));
        f->import().loadFile(f->enrollment("linux.json", { { u"platform"_s, u"linux"_s } }));
        QCOMPARE(text("errorText"), f->import().errorText());
        QVERIFY(shown("errorLine") && shown("selectedFile")); // the earlier selection stays
        QVERIFY(QMetaObject::invokeMethod(item("cancelButton"), "clicked"));
        QVERIFY(!shown("selectedFile") && shown("errorLine")); // Cancel keeps the error
        f->import().loadFile(f->enrollment("good.json"));
        QVERIFY(QMetaObject::invokeMethod(item("importButton"), "clicked"));
        QTRY_VERIFY(shown("spinner"));
        QVERIFY(!shown("selectedFile") && !shown("errorLine"));
        QCOMPARE(text("statusMessage"), f->model->message());
    }

    // The longest card (a removed device, a file selected, an error) in the smallest window shows its
    // scroll handle, and scrolled to the end, the footer.
    void longCardScrollsToItsEnd()
    {
        f->status(R"("last_checkin":"2026-05-01T09:29:15Z","phase":"revoked")");
        f->import().loadFile(f->enrollment("good.json"));
        f->import().loadFile(f->enrollment("linux.json", { { u"platform"_s, u"linux"_s } }));
        m_window->resize(m_window->minimumSize());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QQuickItem *bar = item("scrollBar");
        QTRY_VERIFY(bar->property("contentItem").value<QQuickItem *>()->opacity() > 0);
        bar->setProperty("position", 1.0 - bar->property("size").toDouble());
        const auto footer
            = [this] { return item("footer")->mapRectToScene(QRectF(QPointF(), item("footer")->size())); };
        QTRY_VERIFY(footer().top() >= 0 && footer().bottom() <= m_window->height());
    }

    // Drags come as the window system delivers them: enter, then drop, at a point of the area.
    void droppingFilesLoadsTheFirst()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QPoint point = item("dropArea")->mapToScene(QPointF(item("dropArea")->width() / 2, 20)).toPoint();
        const QString idleHint = text("dropHint");
        QMimeData link; // a web link is no file: not taken, the area stays as it was
        link.setUrls({ QUrl(u"https://example.com/enrollment.json"_s) });
        QDragEnterEvent linkEnter(point, Qt::CopyAction, &link, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &linkEnter);
        QVERIFY(!linkEnter.isAccepted() && text("dropHint") == idleHint);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(m_window.get(), &leave);
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(f->enrollment("dropped.json")),
            QUrl::fromLocalFile(f->enrollment("other.json", { { u"device_name"_s, u"Other"_s } })) });
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QVERIFY(enter.isAccepted() && text("dropHint") != idleHint);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &drop);
        QVERIFY(drop.isAccepted() && text("dropHint") == idleHint);
        QCOMPARE(text("selectedDeviceName"), u"mac-01"_s);
    }
};

QTEST_MAIN(TestSetupView)
#include "test_setup_view.moc"
