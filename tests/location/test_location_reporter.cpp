#include "fakes/FakeClock.h"
#include "fakes/FakeEnvironment.h"
#include "fakes/FakeLocationService.h"
#include "location/LocationReporter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <sys/stat.h>

using namespace pelk;
using namespace Qt::StringLiterals;
using Authorization = platform::LocationService::Authorization;
using Failure = platform::LocationService::Failure;

// What the reporter writes to location.json and shows, as the service answers.
class TestLocationReporter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fakes::FakeClock m_clock;
    fakes::FakeEnvironment m_environment;
    fakes::FakeLocationService *m_service = nullptr;
    std::unique_ptr<location::LocationReporter> m_reporter;
    QStringList m_messages;
    bool m_applicationActive = true;

    QString filePath() const { return m_dir.filePath(u"location.json"_s); }
    QJsonObject file() const
    {
        QFile f(filePath());
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    QString written() const { return file().value(u"status"_s).toString(); }
    void deliver(double accuracy = 65)
    {
        m_service->deliver({ { .latitude = 48.8566,
            .longitude = 2.3522,
            .horizontalAccuracy = accuracy,
            .timestamp = m_clock.now() } });
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(filePath());
        m_clock = fakes::FakeClock();
        m_environment.values.clear();
        m_applicationActive = true;
        m_reporter = std::make_unique<location::LocationReporter>(
            m_service = new fakes::FakeLocationService, m_clock, m_environment, [this] { return m_applicationActive; },
            filePath());
        m_messages.clear();
        m_reporter->setOnStatus([this](const QString &m) { m_messages.append(m); });
    }

    void requestsAreSpacedByAMinute()
    {
        // Previewing another status file reports nothing.
        m_environment.values["PELK_AGENT_PREVIEW_STATUS"] = QString();
        m_reporter->update(true);
        QVERIFY(m_messages.isEmpty() && !QFile::exists(filePath()));
        m_environment.values.clear();
        for (const qint64 step : { 0, 3, 56 })
            m_clock.advance(step), m_reporter->update(true);
        QCOMPARE(m_service->locationRequests, 1);
        m_clock.advance(1); // 60 s after the first
        m_reporter->update(true);
        m_reporter->foregrounded(); // does not wait
        QCOMPARE(m_service->locationRequests, 3);
        // Unenrolled and enrolled again: the spacing still counts from the last request.
        m_reporter->update(false);
        m_clock.advance(10);
        m_reporter->update(true);
        QCOMPARE(m_service->locationRequests, 3);
    }

    // A fix is reported for 300 s; an invalid one is not kept.
    void fixLifetime_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<double>("accuracy");
        QTest::addColumn<bool>("available");
        QTest::newRow("fresh") << qint64(0) << 65.0 << true;
        QTest::newRow("exactly 300 s") << qint64(300000) << 65.0 << true;
        QTest::newRow("300.001 s") << qint64(300001) << 65.0 << false;
        QTest::newRow("in the future") << qint64(-60000) << 65.0 << true;
        QTest::newRow("negative accuracy") << qint64(0) << -1.0 << false;
        QTest::newRow("NaN accuracy") << qint64(0) << std::numeric_limits<double>::quiet_NaN() << false;
    }
    void fixLifetime()
    {
        QFETCH(qint64, ageMs);
        QFETCH(double, accuracy);
        QFETCH(bool, available);
        m_reporter->update(true);
        deliver(accuracy);
        m_service->deliver({});
        m_clock.advanceMs(ageMs);
        m_reporter->foregrounded();
        QJsonObject expected = QJsonObject { { u"status"_s, u"unavailable"_s } };
        if (available)
            expected = { { u"status"_s, u"available"_s }, { u"latitude"_s, 48.8566 }, { u"longitude"_s, 2.3522 },
                { u"accuracy_m"_s, 65.0 }, { u"recorded_at"_s, u"2026-05-01T09:30:00Z"_s } };
        expected.insert(u"updated_at"_s, m_clock.now().toString(Qt::ISODate));
        QCOMPARE(file(), expected);
    }

    void unenrollRemovesTheFileAndSilences()
    {
        m_reporter->update(true);
        deliver();
        const qsizetype published = m_messages.size();
        m_reporter->update(false);
        QVERIFY(!QFile::exists(filePath()) && m_service->stops == 1);
        deliver();
        m_service->fail(Failure::Denied);
        m_reporter->foregrounded();
        QVERIFY(m_messages.size() == published && !QFile::exists(filePath()));
        m_clock.advance(60);
        m_reporter->update(true);
        QCOMPARE(written(), u"unavailable"_s); // the forgotten fix is not reported
    }

    // A denial drops the fix; anything else keeps it while it is fresh.
    void failures_data()
    {
        QTest::addColumn<int>("how"); // 0: access denied, 1: failure denied, 2: other failure, 3: services off
        QTest::addColumn<QString>("status");
        QTest::newRow("access denied") << 0 << u"denied"_s;
        QTest::newRow("failure denied") << 1 << u"denied"_s;
        QTest::newRow("other failure") << 2 << u"available"_s;
        QTest::newRow("services off") << 3 << u"services_disabled"_s;
    }
    void failures()
    {
        QFETCH(int, how);
        m_reporter->update(true);
        deliver();
        m_service->enabled = how != 3;
        if (how == 0)
            m_service->answer(Authorization::Denied);
        else if (how == 3)
            m_reporter->foregrounded();
        else
            m_service->fail(how == 1 ? Failure::Denied : Failure::Other);
        QTEST(written(), "status");
        QCOMPARE(file().size(), how == 2 ? 6 : 2); // the position is kept only after another failure
        m_service->enabled = true;
        m_service->answer(Authorization::Authorized);
        QCOMPARE(written(), how >= 2 ? u"available"_s : u"unavailable"_s);
        m_clock.advance(301);
        m_service->fail(Failure::Other);
        QCOMPARE(written(), u"unavailable"_s);
    }

    void permissionIsAskedOnceAndOnlyWhenActive()
    {
        m_service->access = Authorization::NotDetermined;
        m_applicationActive = false;
        m_reporter->update(true);
        QVERIFY(written() == u"not_determined"_s && m_service->authorizationRequests == 0);
        m_applicationActive = true;
        m_reporter->foregrounded();
        m_reporter->foregrounded();
        QCOMPARE(m_service->authorizationRequests, 1);
        m_reporter->enableOrOpenSettings(); // asks again while the question is open
        QVERIFY(m_service->authorizationRequests == 2 && m_service->settingsOpened == 0);
        m_service->answer(Authorization::Denied); // answered: the button opens the settings
        m_reporter->enableOrOpenSettings();
        QCOMPARE(m_service->settingsOpened, 1);
    }

    void fileIsPrivateWhateverTheUmask()
    {
        const mode_t previous = ::umask(0);
        m_reporter->update(true);
        ::umask(previous);
        QCOMPARE(
            QFile::permissions(filePath()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({ u"location.json"_s }));
        // Without the agent's directory nothing is created.
        location::LocationReporter elsewhere(
            new fakes::FakeLocationService, m_clock, m_environment, {}, m_dir.filePath(u"no-such-uid/location.json"_s));
        elsewhere.update(true);
        QVERIFY(!QFile::exists(m_dir.filePath(u"no-such-uid"_s)));
    }
};

QTEST_GUILESS_MAIN(TestLocationReporter)
#include "test_location_reporter.moc"
