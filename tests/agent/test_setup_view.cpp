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
        if (!found)
            qFatal("no item %s", name);
        return found;
    }
    QString text(const char *name) { return item(name)->property("text").toString(); }
    bool shown(const char *name) { return item(name)->isVisible(); }
    void click(const char *name) { QVERIFY(QMetaObject::invokeMethod(item(name), "clicked")); }
    QByteArray checkin(qint64 msAgo) const { return "\"last_checkin\":\"" + f->iso(msAgo).toLatin1() + "\","; }

private Q_SLOTS:
    void initTestCase() { app::registerBrandFonts(); }
    void init()
    {
        f = std::make_unique<testing::AgentModelFixture>();
        m_engine = app::makeViewEngine();
        QQmlComponent component(m_engine.get());
        component.setData("import Pelk.Agent\nSetupWindow {}\n", QUrl(u"qrc:/test/SetupWindowLoader.qml"_s));
        QVERIFY2(component.isReady(), qPrintable(component.errorString()));
        m_window.reset(qobject_cast<QQuickWindow *>(
            component.createWithInitialProperties({ { u"model"_s, QVariant::fromValue<QObject *>(f->model.get()) } })));
        QVERIFY(m_window);
    }
    void cleanup()
    {
        m_window.reset();
        m_engine.reset();
        f.reset();
    }

    void cardFollowsPhaseAndSelection_data()
    {
        QTest::addColumn<QByteArray>("phase");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("importLabel"); // empty: no drop area
        const QString connect = u"Connect to workspace"_s;
        QTest::newRow("connected") << QByteArray("connected") << false << u"Your device is connected"_s << QString();
        QTest::newRow("connected, selected")
            << QByteArray("connected") << true << u"Your device is connected"_s << u"Replace enrollment"_s;
        QTest::newRow("revoked, selected") << QByteArray("revoked") << true << u"Device removed from Pelk"_s << connect;
        QTest::newRow("offline") << QByteArray("offline") << false << u"Connect your device"_s << connect;
    }
    void cardFollowsPhaseAndSelection()
    {
        QFETCH(QByteArray, phase);
        QFETCH(bool, selected);
        QFETCH(QString, importLabel);
        f->status(checkin(5000) + "\"phase\":\"" + phase + "\"");
        if (selected)
            f->import().loadFile(f->enrollment("e.json"));
        QTEST(text("title"), "title");
        QCOMPARE(shown("dropArea"), !importLabel.isEmpty());
        QCOMPARE(shown("selectedFile"), selected);
        if (selected)
            QCOMPARE(QStringList({ text("importButton"), text("selectedDeviceName") }),
                QStringList({ importLabel, u"mac-01"_s }));
        QCOMPARE(shown("connectedGroup"), phase == "connected");
        QCOMPARE(shown("changeButton"), phase == "connected" && !selected);
    }

    void connectedGroupLines()
    {
        f->status(checkin(45000) + R"("phase":"connected","browser_history_enabled":true)");
        QCOMPARE(text("nextCheckin"), u"Next check-in in 15s"_s);
        QVERIFY(text("websiteReporting").startsWith(u"Website reporting is on"_s));
        f->clock.advance(15);
        f->status(checkin(60000) + R"("phase":"connected")");
        QCOMPARE(text("nextCheckin"), u"Checking in\u2026"_s);
        QCOMPARE(text("websiteReporting"), u"Website reporting is off."_s);
        f->status(R"("phase":"connected","last_checkin":"yesterday")");
        QVERIFY(!shown("connectedGroup"));
    }

    void errorLineCancelAndImport()
    {
        f->import().loadFile(f->enrollment("good.json"));
        QVERIFY(!shown("errorLine"));
        f->import().loadFile(f->enrollment("linux.json", { { u"platform"_s, u"linux"_s } }));
        QCOMPARE(text("errorText"), u"Choose a Linux enrollment JSON downloaded from Pelk."_s);
        QVERIFY(shown("errorLine") && shown("selectedFile")); // the earlier selection stays
        click("cancelButton");
        QVERIFY(!shown("selectedFile") && shown("errorLine")); // Cancel keeps the error
        f->import().loadFile(f->enrollment("good.json"));
        click("importButton");
        QTRY_VERIFY(shown("spinner"));
        QVERIFY(!shown("selectedFile") && !shown("errorLine"));
        QCOMPARE(text("statusMessage"), u"Enrollment imported. Connecting to https://m.example\u2026"_s);
    }

    // Drags come as the window system delivers them: enter, then drop, at a point of the area.
    void droppingFilesLoadsTheFirst()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QPoint point = item("dropArea")->mapToScene(QPointF(item("dropArea")->width() / 2, 20)).toPoint();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(f->enrollment("dropped.json")),
            QUrl::fromLocalFile(f->enrollment("other.json", { { u"device_name"_s, u"Other"_s } })) });
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(text("dropHint"), u"Release to add your enrollment file"_s);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(text("dropHint"), u"Drop your enrollment JSON here"_s);
        QCOMPARE(text("selectedDeviceName"), u"mac-01"_s);
    }
};

QTEST_MAIN(TestSetupView)
#include "test_setup_view.moc"
