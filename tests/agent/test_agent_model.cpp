#include "agent/AgentModel.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeEnvironment.h"
#include "fakes/FakeLocationService.h"
#include "fakes/FakePrivilegedRunner.h"
#include "location/LocationReporter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace pelk;
using namespace pelk::agent;
using namespace Qt::StringLiterals;

namespace {

QString iso(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

class TestAgentModel : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fakes::FakeClock m_clock;
    fakes::FakeEnvironment m_environment;
    std::shared_ptr<fakes::FakePrivilegedRunner> m_runner;
    fakes::FakeLocationService *m_service = nullptr;
    std::unique_ptr<AgentModel> m_model;
    int m_refreshes = 0;

    QString statusPath() const { return m_dir.filePath(u"agent-status.json"_s); }
    QString helperPath() const { return m_dir.filePath(u"helper"_s); }

    void writeStatus(const QJsonObject &object)
    {
        QFile f(statusPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(object).toJson());
    }
    void writeHelper(QFile::Permissions permissions)
    {
        QFile f(helperPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nexit 0\n");
        f.close();
        QVERIFY(f.setPermissions(permissions));
    }
    QJsonObject connectedAgo(qint64 seconds)
    {
        return { { u"phase"_s, u"connected"_s }, { u"message"_s, u"ok"_s }, { u"device_name"_s, u"d1"_s },
            { u"updated_at"_s, iso(m_clock.now().addSecs(-seconds)) } };
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(statusPath());
        QFile::remove(helperPath());
        m_environment = fakes::FakeEnvironment();
        m_runner = std::make_shared<fakes::FakePrivilegedRunner>();
        m_service = new fakes::FakeLocationService;
        auto *reporter = new location::LocationReporter(
            m_service, m_clock, m_environment, [] { return true; }, m_dir.filePath(u"location.json"_s));
        m_model = std::make_unique<AgentModel>(AgentModel::Collaborators { .statusPath = statusPath(),
            .helperPath = helperPath(),
            .temporaryDirectory = m_dir.path(),
            .clock = &m_clock,
            .environment = &m_environment,
            .runner = m_runner,
            .location = reporter });
        m_refreshes = 0;
        m_model->setOnRefresh([this] { ++m_refreshes; });
    }

    void startPollsAtOnceAndRoutesLocationMessages()
    {
        writeStatus(connectedAgo(0));
        QSignalSpy changed(m_model.get(), &AgentModel::statusChanged);
        m_model->start();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_refreshes, 1);
        QCOMPARE(m_model->phase(), u"connected"_s);
        // Enrolled and authorized: the reporter published, and the model shows its sentence.
        QCOMPARE(m_service->locationRequests, 1);
        QCOMPARE(m_model->locationMessage(),
            u"Waiting for a location from macOS. Battery and device health still report normally."_s);
        // Every poll notifies, even when nothing changed.
        m_model->refresh();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(m_refreshes, 2);
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
        if (!file.isEmpty()) {
            QFile f(statusPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file);
        }
        if (helper == 1)
            writeHelper(QFile::ReadOwner | QFile::ExeOwner);
        if (helper == 2)
            writeHelper(QFile::ReadOwner | QFile::WriteOwner);
        m_model->refresh();
        QTEST(m_model->phase(), "phase");
        QTEST(m_model->message(), "message");
        QTEST(m_model->title(), "title");
        QVERIFY(!m_model->enrolled());
        QVERIFY(!m_model->location()->isActive());
        QCOMPARE(m_model->status().deviceName, std::nullopt);
        QCOMPARE(m_refreshes, 1);
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
            { u"signing_ready"_s, true }, { u"updated_at"_s, iso(m_clock.now().addMSecs(-ageMs)) } };
        if (!interval.isUndefined())
            o.insert(u"next_checkin_seconds"_s, interval);
        // A JSON double cannot hold these integers exactly: write them as text into the document.
        QByteArray bytes = QJsonDocument(o).toJson();
        bytes.replace("\"INT64_MAX\"", QByteArray::number(std::numeric_limits<qint64>::max()));
        bytes.replace("\"INT64_MAX-30\"", QByteArray::number(std::numeric_limits<qint64>::max() - 30));
        QFile f(statusPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        m_model->refresh();
        QCOMPARE(m_model->phase(), stale ? u"stopped"_s : u"connected"_s);
        QCOMPARE(m_model->message(),
            stale ? u"The background service has not reported recently. Reinstall Pelk Agent if it does not recover."_s
                  : u"ok"_s);
        // The other members stay as the agent wrote them.
        QCOMPARE(m_model->deviceName(), u"d1"_s);
        QCOMPARE(m_model->enrolled(), !stale);
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
        writeStatus(o);
        m_model->refresh();
        QTEST(m_model->title(), "title");
        QTEST(m_model->enrolled(), "isEnrolled");
        QTEST(m_model->location()->isActive(), "isEnrolled");
    }

    void previewVariableNamesTheStatusFile()
    {
        const QString preview = m_dir.filePath(u"preview.json"_s);
        QFile f(preview);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(QJsonObject { { u"phase"_s, u"revoked"_s }, { u"message"_s, u"gone"_s } }).toJson());
        f.close();
        writeStatus(connectedAgo(0));
        m_environment.set("PELK_AGENT_PREVIEW_STATUS", preview);
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"revoked"_s);
        // Present but empty: a path that names no file.
        m_environment.set("PELK_AGENT_PREVIEW_STATUS", QString());
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"stopped"_s);
        m_environment.unset("PELK_AGENT_PREVIEW_STATUS");
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"connected"_s);
    }

    void lastImportHoldsTheConnectingStatus()
    {
        const QByteArray profile = QJsonDocument(
            QJsonObject { { u"format"_s, u"co.pelkcore.agent-enrollment"_s }, { u"version"_s, 1 },
                { u"base_url"_s, u"https://m.example"_s }, { u"workspace"_s, u"Acme"_s }, { u"device_name"_s, u"d1"_s },
                { u"device_id"_s, 7 }, { u"platform"_s, u"macos"_s }, { u"role"_s, u"helper"_s },
                { u"enrollment_token"_s, QString(40, u'x') }, { u"expires_at"_s, u"2030-01-01T00:00:00Z"_s } })
                                       .toJson();
        const QString file = m_dir.filePath(u"enrollment.json"_s);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(profile);
        f.close();
        m_model->loadFile(file);
        QVERIFY(m_model->hasSelection());
        m_model->connect();
        QTRY_VERIFY(!m_model->busy());
        QCOMPARE(m_model->phase(), u"connecting"_s);
        QCOMPARE(m_model->lastImport(), std::optional<QDateTime>(m_clock.now()));
        QCOMPARE(m_refreshes, 1);

        // Written before the import: ignored, and nobody is told.
        writeStatus(connectedAgo(1));
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"connecting"_s);
        QCOMPARE(m_refreshes, 1);
        // Without updated_at the rule cannot apply.
        writeStatus(QJsonObject { { u"phase"_s, u"offline"_s }, { u"message"_s, u""_s } });
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"offline"_s);
        // Written at the very moment of the import: shown.
        writeStatus(connectedAgo(0));
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"connected"_s);
        QCOMPARE(m_refreshes, 3);
        // A missing file replaces any status at once.
        QFile::remove(statusPath());
        m_model->refresh();
        QCOMPARE(m_model->phase(), u"stopped"_s);
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
        writeStatus(o);
        m_model->refresh();
        QTEST(m_model->lastSeen(), "lastSeen");
        QCOMPARE(m_model->connectedDetailsShown(), !next.isEmpty());
        if (!next.isEmpty())
            QCOMPARE(m_model->nextCheckinLine(), next);
    }
};

QTEST_GUILESS_MAIN(TestAgentModel)
#include "test_agent_model.moc"
