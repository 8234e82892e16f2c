#include "fakes/FakeClock.h"
#include "fakes/FakeEnvironment.h"
#include "fakes/FakeLocationService.h"
#include "location/LocationReporter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <sys/stat.h>

using namespace pelk;
using namespace pelk::location;
using namespace Qt::StringLiterals;
using Authorization = platform::LocationService::Authorization;
using Failure = platform::LocationService::Failure;

class TestLocationReporter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fakes::FakeClock m_clock;
    fakes::FakeEnvironment m_environment;
    fakes::FakeLocationService *m_service = nullptr;
    std::unique_ptr<LocationReporter> m_reporter;
    QStringList m_messages;
    bool m_applicationActive = true;

    QString filePath() const { return m_dir.filePath(u"location.json"_s); }
    QJsonObject file() const
    {
        QFile f(filePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    platform::LocationFix fixAgo(qint64 seconds, double accuracy = 65)
    {
        return { .latitude = 48.8566,
            .longitude = 2.3522,
            .horizontalAccuracy = accuracy,
            .timestamp = m_clock.now().addSecs(-seconds) };
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(filePath());
        m_clock = fakes::FakeClock();
        m_environment = fakes::FakeEnvironment();
        m_service = new fakes::FakeLocationService;
        m_applicationActive = true;
        m_reporter = std::make_unique<LocationReporter>(
            m_service, m_clock, m_environment, [this] { return m_applicationActive; }, filePath());
        m_messages.clear();
        m_reporter->setOnStatus([this](const QString &m) { m_messages.append(m); });
    }

    void previewReportsNothing()
    {
        m_environment.set("PELK_AGENT_PREVIEW_STATUS", QString());
        m_reporter->update(true);
        QVERIFY(!m_reporter->isActive());
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!QFile::exists(filePath()));
        QCOMPARE(m_service->locationRequests, 0);
    }

    void requestsAreSpacedByAMinute()
    {
        m_reporter->update(true);
        m_clock.advance(3);
        m_reporter->update(true);
        QCOMPARE(m_service->locationRequests, 1);
        m_clock.advance(56);
        m_reporter->update(true);
        QCOMPARE(m_service->locationRequests, 1);
        m_clock.advance(1); // 60 s after the first
        m_reporter->update(true);
        QCOMPARE(m_service->locationRequests, 2);
        // Foregrounding does not wait.
        m_reporter->foregrounded();
        QCOMPARE(m_service->locationRequests, 3);
        // Unenrolled and enrolled again: the spacing still counts from the last request.
        m_reporter->update(false);
        m_clock.advance(10);
        m_reporter->update(true);
        QCOMPARE(m_service->locationRequests, 3);
    }

    void fixLifetime_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<bool>("available");
        QTest::newRow("fresh") << qint64(0) << true;
        QTest::newRow("exactly 300 s") << qint64(300000) << true;
        QTest::newRow("300.001 s") << qint64(300001) << false;
        QTest::newRow("in the future") << qint64(-60000) << true;
    }
    void fixLifetime()
    {
        QFETCH(qint64, ageMs);
        QFETCH(bool, available);
        m_reporter->update(true);
        m_service->deliver({ fixAgo(0) });
        m_clock.advanceMs(ageMs);
        m_reporter->foregrounded();
        const QJsonObject o = file();
        QCOMPARE(o.value(u"status"_s).toString(), available ? u"available"_s : u"unavailable"_s);
        QCOMPARE(m_messages.last(),
            available ? u"Location reporting is on."_s
                      : u"Waiting for a location from macOS. Battery and device health "
                        u"still report normally."_s);
        QCOMPARE(o.value(u"updated_at"_s).toString(), m_clock.now().toString(Qt::ISODate));
        if (available) {
            QCOMPARE(o.size(), 6);
            QCOMPARE(o.value(u"latitude"_s).toDouble(), 48.8566);
            QCOMPARE(o.value(u"longitude"_s).toDouble(), 2.3522);
            QCOMPARE(o.value(u"accuracy_m"_s).toDouble(), 65.0);
            QCOMPARE(o.value(u"recorded_at"_s).toString(), u"2026-05-01T09:30:00Z"_s);
        } else {
            QCOMPARE(o.keys(), QStringList({ u"status"_s, u"updated_at"_s }));
        }
    }

    void invalidPositionsAreIgnored_data()
    {
        QTest::addColumn<double>("accuracy");
        QTest::newRow("negative") << -1.0;
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
    }
    void invalidPositionsAreIgnored()
    {
        QFETCH(double, accuracy);
        m_reporter->update(true);
        m_service->deliver({ fixAgo(0, 10) });
        const QJsonObject before = file();
        const qsizetype published = m_messages.size();
        m_clock.advance(5);
        m_service->deliver({ fixAgo(0, accuracy) });
        m_service->deliver({});
        QCOMPARE(m_messages.size(), published);
        QCOMPARE(file(), before);
        // The held fix is the earlier one.
        m_reporter->foregrounded();
        QCOMPARE(file().value(u"accuracy_m"_s).toDouble(), 10.0);
    }

    void unenrollRemovesTheFileAndSilences()
    {
        m_reporter->update(true);
        m_service->deliver({ fixAgo(0) });
        QVERIFY(QFile::exists(filePath()));
        const qsizetype published = m_messages.size();
        m_reporter->update(false);
        QVERIFY(!QFile::exists(filePath()));
        QCOMPARE(m_service->stops, 1);
        m_service->deliver({ fixAgo(0) });
        m_service->fail(Failure::Denied);
        m_reporter->foregrounded();
        QCOMPARE(m_messages.size(), published);
        QVERIFY(!QFile::exists(filePath()));
        // Enrolled again, the forgotten fix is not reported.
        m_clock.advance(60);
        m_reporter->update(true);
        QCOMPARE(file().value(u"status"_s).toString(), u"unavailable"_s);
    }

    void servicesOffHidesAFreshFix()
    {
        m_reporter->update(true);
        m_service->deliver({ fixAgo(0) });
        m_service->enabled = false;
        m_reporter->foregrounded();
        QCOMPARE(file().keys(), QStringList({ u"status"_s, u"updated_at"_s }));
        QCOMPARE(file().value(u"status"_s).toString(), u"services_disabled"_s);
        QCOMPARE(m_messages.last(), u"Location Services are off. Enable them in System Settings."_s);
        // Switched back on, the fix was kept.
        m_service->enabled = true;
        m_reporter->foregrounded();
        QCOMPARE(file().value(u"status"_s).toString(), u"available"_s);
    }

    void denials_data()
    {
        QTest::addColumn<bool>("byFailure");
        QTest::addColumn<QString>("message");
        QTest::newRow("access denied") << false
                                       << u"Location access is off. Allow Pelk Agent in System Settings \u2192 "
                                          u"Privacy & Security \u2192 Location Services."_s;
        QTest::newRow("failure denied") << true << u"Location access is off. Allow Pelk Agent in System Settings."_s;
    }
    void denials()
    {
        QFETCH(bool, byFailure);
        m_reporter->update(true);
        m_service->deliver({ fixAgo(0) });
        if (byFailure)
            m_service->fail(Failure::Denied);
        else
            m_service->answer(Authorization::Denied);
        QCOMPARE(file().keys(), QStringList({ u"status"_s, u"updated_at"_s }));
        QCOMPARE(file().value(u"status"_s).toString(), u"denied"_s);
        QTEST(m_messages.last(), "message");
        // The fix was dropped: allowed again, nothing fresh is held.
        m_service->answer(Authorization::Authorized);
        QCOMPARE(file().value(u"status"_s).toString(), u"unavailable"_s);
    }

    void otherFailuresKeepAFreshFix()
    {
        m_reporter->update(true);
        m_service->deliver({ fixAgo(0) });
        m_service->fail(Failure::Other);
        QCOMPARE(file().value(u"status"_s).toString(), u"available"_s);
        m_clock.advance(301);
        m_service->fail(Failure::Other);
        QCOMPARE(file().value(u"status"_s).toString(), u"unavailable"_s);
    }

    void permissionIsAskedOnceAndOnlyWhenActive()
    {
        m_service->access = Authorization::NotDetermined;
        m_applicationActive = false;
        m_reporter->update(true);
        QCOMPARE(file().value(u"status"_s).toString(), u"not_determined"_s);
        QCOMPARE(m_messages.last(), u"Allow Pelk Agent to report this device\u2019s location."_s);
        QCOMPARE(m_service->authorizationRequests, 0);
        m_applicationActive = true;
        m_reporter->foregrounded();
        m_reporter->foregrounded();
        QCOMPARE(m_service->authorizationRequests, 1);
        // The location button asks again while the question is still open.
        m_reporter->enableOrOpenSettings();
        QCOMPARE(m_service->authorizationRequests, 2);
        QCOMPARE(m_service->settingsOpened, 0);
        // Once answered, the button opens the settings and changes nothing else.
        m_service->answer(Authorization::Denied);
        const QJsonObject denied = file();
        const qsizetype published = m_messages.size();
        m_reporter->enableOrOpenSettings();
        QCOMPARE(m_service->settingsOpened, 1);
        QCOMPARE(m_messages.size(), published);
        QCOMPARE(file(), denied);
    }

    void fileIsPrivateWhateverTheUmask()
    {
        const mode_t previous = ::umask(0);
        m_reporter->update(true);
        ::umask(previous);
        struct stat info { };
        QCOMPARE(::stat(QFile::encodeName(filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        // Nothing but the file itself is left in the directory.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({ u"location.json"_s }));
    }

    void missingDirectoryFailsQuietly()
    {
        auto *service = new fakes::FakeLocationService;
        LocationReporter reporter(
            service, m_clock, m_environment, [] { return true; }, m_dir.filePath(u"no-such-uid/location.json"_s));
        QStringList messages;
        reporter.setOnStatus([&](const QString &m) { messages.append(m); });
        reporter.update(true);
        QCOMPARE(messages.size(), 1);
        QVERIFY(!QFile::exists(m_dir.filePath(u"no-such-uid"_s)));
    }
};

QTEST_GUILESS_MAIN(TestLocationReporter)
#include "test_location_reporter.moc"
