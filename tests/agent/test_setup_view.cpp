#include "app/BrandLook.h"
#include "fakes/FakeAgentParts.h"
#include "fakes/QuickItems.h"

#include <QMimeData>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

namespace {

using fakes::findItem;

QString iso(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODate);
}

} // namespace

class TestSetupView : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fakes::FakeAgentParts m_fakes;
    app::AgentParts m_parts;
    std::unique_ptr<QQuickWindow> m_window;

    agent::AgentModel &model() { return *m_parts.model; }
    QQuickItem *item(const QString &name)
    {
        QQuickItem *found = findItem(m_window->contentItem(), name);
        if (!found)
            qFatal("no item %s", qPrintable(name));
        return found;
    }
    QString text(const QString &name) { return item(name)->property("text").toString(); }
    bool shown(const QString &name) { return item(name)->isVisible(); }
    void click(const QString &name) { QVERIFY(QMetaObject::invokeMethod(item(name), "clicked")); }

    void status(QJsonObject fields)
    {
        fields.insert(u"message"_s, fields.value(u"message"_s).toString(u"Agent message"_s));
        fields.insert(u"updated_at"_s, iso(m_fakes.clock->now()));
        m_fakes.writeStatus(fields);
        model().refresh();
    }
    QString enrollment(const QString &name, const QJsonObject &overrides = {})
    {
        QJsonObject profile { { u"format"_s, u"co.pelkcore.agent-enrollment"_s }, { u"version"_s, 1 },
            { u"role"_s, u"helper"_s }, { u"platform"_s, u"macos"_s }, { u"device_id"_s, 7 },
            { u"workspace"_s, u"Acme"_s }, { u"device_name"_s, u"Desk 12"_s },
            { u"base_url"_s, u"https://acme.example"_s }, { u"enrollment_token"_s, QString(40, u'x') },
            { u"expires_at"_s, u"2099-01-01T00:00:00Z"_s } };
        for (auto it = overrides.begin(); it != overrides.end(); ++it)
            profile.insert(it.key(), it.value());
        const QString path = m_dir.filePath(name);
        fakes::FakeAgentParts::write(path, QJsonDocument(profile).toJson());
        return path;
    }

private Q_SLOTS:
    void initTestCase() { app::registerBrandFonts(); }

    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(m_fakes.statusPath());
        m_fakes = fakes::FakeAgentParts { m_dir.path() };
        m_parts = m_fakes.make();
        QQmlComponent component(&m_parts.managedLock->engine());
        component.setData("import Pelk.Agent\nSetupWindow {}\n", QUrl(u"qrc:/test/SetupWindowLoader.qml"_s));
        QVERIFY2(component.isReady(), qPrintable(component.errorString()));
        m_window.reset(qobject_cast<QQuickWindow *>(component.createWithInitialProperties(
            { { u"model"_s, QVariant::fromValue<QObject *>(m_parts.model.get()) } })));
        QVERIFY(m_window);
    }
    void cleanup()
    {
        m_window.reset();
        m_parts = {};
    }

    void cardFollowsPhaseAndSelection_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("dropArea");
        QTest::addColumn<QString>("importLabel");
        QTest::addColumn<bool>("connectedGroup");
        QTest::addColumn<bool>("changeButton");
        QTest::newRow("connected") << u"connected"_s << false << u"Your device is connected"_s << false << QString()
                                   << true << true;
        QTest::newRow("connected, file selected") << u"connected"_s << true << u"Your device is connected"_s << true
                                                  << u"Replace enrollment"_s << true << false;
        QTest::newRow("revoked") << u"revoked"_s << false << u"Device removed from Pelk"_s << true << QString() << false
                                 << false;
        QTest::newRow("revoked, file selected") << u"revoked"_s << true << u"Device removed from Pelk"_s << true
                                                << u"Connect to workspace"_s << false << false;
        QTest::newRow("offline, file selected")
            << u"offline"_s << true << u"Connect your device"_s << true << u"Connect to workspace"_s << false << false;
        QTest::newRow("not enrolled") << u"not_enrolled"_s << false << u"Connect your device"_s << true << QString()
                                      << false << false;
    }
    void cardFollowsPhaseAndSelection()
    {
        QFETCH(QString, phase);
        QFETCH(bool, selected);
        QFETCH(QString, title);
        QFETCH(bool, dropArea);
        QFETCH(QString, importLabel);
        QFETCH(bool, connectedGroup);
        QFETCH(bool, changeButton);
        status({ { u"phase"_s, phase }, { u"last_checkin"_s, iso(m_fakes.clock->now().addSecs(-5)) } });
        if (selected)
            model().loadFile(enrollment(u"e.json"_s));
        QCOMPARE(text(u"title"_s), title);
        QCOMPARE(shown(u"dropArea"_s), dropArea);
        QCOMPARE(shown(u"selectedFile"_s), selected);
        if (selected) {
            QCOMPARE(text(u"importButton"_s), importLabel);
            QCOMPARE(text(u"selectedDeviceName"_s), u"Desk 12"_s);
        }
        QCOMPARE(shown(u"connectedGroup"_s), connectedGroup);
        QCOMPARE(shown(u"changeButton"_s), changeButton);
        QCOMPARE(shown(u"spinner"_s), false);
        QCOMPARE(text(u"statusTitle"_s), model().title());
    }

    void countdownFromTheLastCheckin()
    {
        status({ { u"phase"_s, u"connected"_s }, { u"last_checkin"_s, iso(m_fakes.clock->now().addSecs(-45)) } });
        QCOMPARE(text(u"nextCheckin"_s), u"Next check-in in 15s"_s);
        m_fakes.clock->advance(15);
        model().refresh();
        QCOMPARE(text(u"nextCheckin"_s), u"Checking in\u2026"_s);
        // A check-in time that does not parse hides the whole group.
        status({ { u"phase"_s, u"connected"_s }, { u"last_checkin"_s, u"yesterday"_s } });
        QVERIFY(!shown(u"connectedGroup"_s));
    }

    void connectedGroupLines()
    {
        status({ { u"phase"_s, u"connected"_s }, { u"last_checkin"_s, iso(m_fakes.clock->now()) },
            { u"browser_history_enabled"_s, true }, { u"device_name"_s, u"Mac-1"_s } });
        QCOMPARE(
            text(u"websiteReporting"_s), u"Website reporting is on: recent site origins and visit times are shared."_s);
        QCOMPARE(text(u"statusDeviceName"_s), u"Mac-1"_s);
        QVERIFY(shown(u"statusDeviceName"_s));
        QVERIFY(!shown(u"statusBaseUrl"_s));
        QVERIFY(shown(u"locationButton"_s)); // "Waiting for location status…"
        status({ { u"phase"_s, u"connected"_s }, { u"last_checkin"_s, iso(m_fakes.clock->now()) } });
        QCOMPARE(text(u"websiteReporting"_s), u"Website reporting is off."_s);
        QVERIFY(!shown(u"statusDeviceName"_s));
    }

    void errorLineAndCancel()
    {
        model().loadFile(enrollment(u"good.json"_s));
        QVERIFY(!shown(u"errorLine"_s));
        model().loadFile(enrollment(u"linux.json"_s, { { u"platform"_s, u"linux"_s } }));
        QVERIFY(shown(u"errorLine"_s));
        QCOMPARE(text(u"errorText"_s), u"Choose a macOS enrollment JSON downloaded from Pelk."_s);
        QVERIFY(shown(u"selectedFile"_s)); // the earlier selection stays
        click(u"cancelButton"_s);
        QVERIFY(!shown(u"selectedFile"_s));
        QVERIFY(shown(u"errorLine"_s)); // Cancel keeps the error
        model().loadFile(enrollment(u"old.json"_s, { { u"expires_at"_s, u"2001-01-01T00:00:00Z"_s } }));
        QCOMPARE(text(u"errorText"_s), u"This file has expired. Download a new enrollment file from Pelk."_s);
    }

    void importShowsConnecting()
    {
        model().loadFile(enrollment(u"good.json"_s));
        click(u"importButton"_s);
        QTRY_COMPARE(model().phase(), u"connecting"_s);
        QVERIFY(shown(u"spinner"_s));
        QVERIFY(!shown(u"selectedFile"_s));
        QCOMPARE(text(u"statusMessage"_s), u"Enrollment imported. Connecting to https://acme.example\u2026"_s);
        QCOMPARE(m_fakes.runner->commandLines.size(), 1);
    }

    void chooseAsksForAFile()
    {
        int asked = 0;
        std::optional<QUrl> answer;
        model().setFileChooser([&] {
            ++asked;
            return answer;
        });
        click(u"chooseButton"_s); // declined
        QCOMPARE(asked, 0); // asked once the click has been handled
        QTRY_COMPARE(asked, 1);
        QVERIFY(!model().hasSelection());
        answer = QUrl::fromLocalFile(enrollment(u"chosen.json"_s));
        click(u"chooseButton"_s);
        QTRY_COMPARE(asked, 2);
        QCOMPARE(text(u"selectedDeviceName"_s), u"Desk 12"_s);
    }

    // Drags come as the window system delivers them: enter, then drop, at a point of the area.
    void droppingAFileLoadsTheFirst()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QQuickItem *area = item(u"dropArea"_s);
        const QPoint point = area->mapToScene(QPointF(area->width() / 2, 20)).toPoint();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(enrollment(u"dropped.json"_s)),
            QUrl::fromLocalFile(enrollment(u"other.json"_s, { { u"device_name"_s, u"Other"_s } })) });

        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(text(u"dropHint"_s), u"Release to add your enrollment file"_s);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(text(u"dropHint"_s), u"Drop your enrollment JSON here"_s);
        QCOMPARE(model().selectedDeviceName(), u"Desk 12"_s);

        // Text without a file is not taken.
        QMimeData plain;
        plain.setText(u"hello"_s);
        QDragEnterEvent textEnter(point, Qt::CopyAction, &plain, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &textEnter);
        QCOMPARE(text(u"dropHint"_s), u"Drop your enrollment JSON here"_s);
    }

    void footerVersion()
    {
        QCOMPARE(text(u"footer"_s), u"Pelk Agent \u00B7 v0.4.0"_s);
        status({ { u"phase"_s, u"offline"_s }, { u"version"_s, u"2.1.0"_s } });
        QCOMPARE(text(u"footer"_s), u"Pelk Agent \u00B7 v2.1.0"_s);
    }
};

QTEST_MAIN(TestSetupView)
#include "test_setup_view.moc"
