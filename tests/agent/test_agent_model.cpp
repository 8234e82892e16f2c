#include "AgentModelFixture.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace pelk;
using namespace pelk::agent;
using namespace Qt::StringLiterals;

class TestAgentModel : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;

    QString iso(qint64 msAgo) const { return f->clock.now().addMSecs(-msAgo).toString(Qt::ISODateWithMs); }
    QJsonObject connectedAgo(qint64 seconds) const
    {
        return { { u"phase"_s, u"connected"_s }, { u"message"_s, u"ok"_s }, { u"device_name"_s, u"d1"_s },
            { u"updated_at"_s, iso(seconds * 1000) } };
    }
    void writeHelper(QFile::Permissions permissions)
    {
        QVERIFY(QFile::setPermissions(f->write(u"helper"_s, QByteArray("#!/bin/sh\nexit 0\n")), permissions));
    }

private Q_SLOTS:
    void init() { f = std::make_unique<testing::AgentModelFixture>(); }

    void startPollsAtOnceAndRoutesLocationMessages()
    {
        f->writeStatus(connectedAgo(0));
        QSignalSpy changed(f->model.get(), &AgentModel::statusChanged);
        f->model->start();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(f->refreshes, 1);
        QCOMPARE(f->model->phase(), u"connected"_s);
        // Enrolled and authorized: the reporter published, and the model shows its sentence.
        QCOMPARE(f->service->locationRequests, 1);
        QCOMPARE(f->model->locationMessage(),
            u"Waiting for a location from macOS. Battery and device health still report normally."_s);
        // Every poll notifies, even when nothing changed.
        f->model->refresh();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(f->refreshes, 2);
    }

    void substitutes_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: no file
        QTest::addColumn<int>("helper"); // 0 none, 1 executable, 2 not executable
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        const QString install = u"Install Pelk Agent to start the background service."_s;
        const QString update = u"Install the latest Pelk Agent package to enable setup and connection status."_s;
        QTest::newRow("no file, no helper")
            << QByteArray() << 0 << u"stopped"_s << install << u"Agent is not responding"_s;
        QTest::newRow("no file, helper") << QByteArray() << 1 << u"update_required"_s << update
                                         << u"Agent update required"_s;
        QTest::newRow("no file, helper not executable")
            << QByteArray() << 2 << u"stopped"_s << install << u"Agent is not responding"_s;
        QTest::newRow("garbled file, helper")
            << QByteArray("{\"phase\":") << 1 << u"update_required"_s << update << u"Agent update required"_s;
    }
    void substitutes()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, helper);
        if (!file.isEmpty())
            f->write(u"agent-status.json"_s, file);
        if (helper == 1)
            writeHelper(QFile::ReadOwner | QFile::ExeOwner);
        if (helper == 2)
            writeHelper(QFile::ReadOwner | QFile::WriteOwner);
        f->model->refresh();
        QTEST(f->model->phase(), "phase");
        QTEST(f->model->message(), "message");
        QTEST(f->model->title(), "title");
        QVERIFY(!f->model->enrolled());
        QVERIFY(!f->model->location()->isActive());
        QCOMPARE(f->model->status().deviceName, std::nullopt);
        QCOMPARE(f->refreshes, 1);
    }

    void stale_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<QJsonValue>("interval");
        QTest::addColumn<bool>("stale");
        QTest::newRow("exactly 90 s") << qint64(90000) << QJsonValue() << false;
        QTest::newRow("90.001 s") << qint64(90001) << QJsonValue() << true;
        QTest::newRow("100 s, interval 300") << qint64(100000) << QJsonValue(300) << false;
        QTest::newRow("331 s, interval 300") << qint64(331000) << QJsonValue(300) << true;
        QTest::newRow("limit overflows") << qint64(100000000000) << QJsonValue(u"INT64_MAX"_s) << false;
        QTest::newRow("limit is the largest integer") << qint64(100000000000) << QJsonValue(u"INT64_MAX-30"_s) << false;
        QTest::newRow("negative interval, future") << qint64(-5000) << QJsonValue(-100) << true;
    }
    void stale()
    {
        QFETCH(qint64, ageMs);
        QFETCH(QJsonValue, interval);
        QFETCH(bool, stale);
        QJsonObject o { { u"phase"_s, u"connected"_s }, { u"message"_s, u"ok"_s }, { u"device_name"_s, u"d1"_s },
            { u"signing_ready"_s, true }, { u"updated_at"_s, iso(ageMs) } };
        if (!interval.isUndefined())
            o.insert(u"next_checkin_seconds"_s, interval);
        // A JSON double cannot hold these integers exactly: write them as text into the document.
        QByteArray bytes = QJsonDocument(o).toJson();
        bytes.replace("\"INT64_MAX\"", QByteArray::number(std::numeric_limits<qint64>::max()));
        bytes.replace("\"INT64_MAX-30\"", QByteArray::number(std::numeric_limits<qint64>::max() - 30));
        f->write(u"agent-status.json"_s, bytes);
        f->model->refresh();
        QCOMPARE(f->model->phase(), stale ? u"stopped"_s : u"connected"_s);
        QCOMPARE(f->model->message(),
            stale ? u"The background service has not reported recently. Reinstall Pelk Agent if it does not recover."_s
                  : u"ok"_s);
        // The other members stay as the agent wrote them.
        QCOMPARE(f->model->deviceName(), u"d1"_s);
        QCOMPARE(f->model->enrolled(), !stale);
    }

    void titlesAndEnrolled_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QJsonValue>("signing");
        QTest::addColumn<QJsonValue>("enrolled");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("isEnrolled");
        const QJsonValue none;
        QTest::newRow("connected, signed") << u"connected"_s << QJsonValue(true) << none << u"Connected"_s << true;
        QTest::newRow("connected, unsigned")
            << u"connected"_s << QJsonValue(false) << none << u"Connected \u00B7 signing key needed"_s << true;
        QTest::newRow("connected, enrolled false")
            << u"connected"_s << none << QJsonValue(false) << u"Connected \u00B7 signing key needed"_s << false;
        QTest::newRow("offline") << u"offline"_s << none << none << u"Offline \u00B7 retrying"_s << true;
        QTest::newRow("stopped, enrolled true")
            << u"stopped"_s << none << QJsonValue(true) << u"Agent is not responding"_s << true;
        QTest::newRow("update_required") << u"update_required"_s << none << none << u"Agent update required"_s << false;
        QTest::newRow("case differs") << u"Connected"_s << QJsonValue(true) << none << u"Not connected"_s << false;
        QTest::newRow("unknown word") << u"paused"_s << none << none << u"Not connected"_s << false;
    }
    void titlesAndEnrolled()
    {
        QFETCH(QString, phase);
        QFETCH(QJsonValue, signing);
        QFETCH(QJsonValue, enrolled);
        QJsonObject o { { u"phase"_s, phase }, { u"message"_s, u""_s } };
        if (!signing.isNull())
            o.insert(u"signing_ready"_s, signing);
        if (!enrolled.isNull())
            o.insert(u"enrolled"_s, enrolled);
        f->writeStatus(o);
        f->model->refresh();
        QTEST(f->model->title(), "title");
        QTEST(f->model->enrolled(), "isEnrolled");
        QTEST(f->model->location()->isActive(), "isEnrolled");
    }

    void previewVariableNamesTheStatusFile()
    {
        const QString preview
            = f->write(u"preview.json"_s, QJsonObject { { u"phase"_s, u"revoked"_s }, { u"message"_s, u"gone"_s } });
        f->writeStatus(connectedAgo(0));
        f->environment.set("PELK_AGENT_PREVIEW_STATUS", preview);
        f->model->refresh();
        QCOMPARE(f->model->phase(), u"revoked"_s);
        // Present but empty: a path that names no file.
        f->environment.set("PELK_AGENT_PREVIEW_STATUS", QString());
        f->model->refresh();
        QCOMPARE(f->model->phase(), u"stopped"_s);
        f->environment.unset("PELK_AGENT_PREVIEW_STATUS");
        f->model->refresh();
        QCOMPARE(f->model->phase(), u"connected"_s);
    }

    // The check-in lines, from a fixed clock at 2026-05-01T09:30:00Z.
    void checkinLines_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("checkin"); // empty: absent
        QTest::addColumn<QJsonValue>("interval");
        QTest::addColumn<QString>("lastSeen");
        QTest::addColumn<QString>("next"); // empty: the connected details are hidden
        const QJsonValue none;
        const QString noCheckin = u"No check-in yet"_s;
        QTest::newRow("absent") << u"connected"_s << QString() << none << noCheckin << QString();
        QTest::newRow("unparsable") << u"connected"_s << u"2026-05-01 09:28:00Z"_s << none << noCheckin << QString();
        QTest::newRow("offline") << u"offline"_s << u"2026-05-01T09:29:00Z"_s << none << u"1 minute ago"_s << QString();
        QTest::newRow("60 s, default") << u"connected"_s << u"2026-05-01T09:29:00Z"_s << none << u"1 minute ago"_s
                                       << u"Checking in\u2026"_s;
        QTest::newRow("10 s, interval 300") << u"connected"_s << u"2026-05-01T09:29:50Z"_s << QJsonValue(300)
                                            << u"10 seconds ago"_s << u"Next check-in in 290s"_s;
        QTest::newRow("in the future") << u"connected"_s << u"2026-05-01T09:30:30.000Z"_s << none << u"in 30 seconds"_s
                                       << u"Next check-in in 90s"_s;
    }
    void checkinLines()
    {
        QFETCH(QString, phase);
        QFETCH(QString, checkin);
        QFETCH(QJsonValue, interval);
        QFETCH(QString, next);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QJsonObject o { { u"phase"_s, phase }, { u"message"_s, u""_s } };
        if (!checkin.isEmpty())
            o.insert(u"last_checkin"_s, checkin);
        if (!interval.isUndefined())
            o.insert(u"next_checkin_seconds"_s, interval);
        f->writeStatus(o);
        f->model->refresh();
        QTEST(f->model->lastSeen(), "lastSeen");
        QCOMPARE(f->model->connectedDetailsShown(), !next.isEmpty());
        if (!next.isEmpty())
            QCOMPARE(f->model->nextCheckinLine(), next);
    }
};

QTEST_GUILESS_MAIN(TestAgentModel)
#include "test_agent_model.moc"
