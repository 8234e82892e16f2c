#include "fakes/FakeClock.h"
#include "fakes/MockSystemBus.h"
#include "platform/linux/GeoclueLocationService.h"

#include <QDir>
#include <QSignalSpy>

using namespace pelk::platform;
using namespace Qt::StringLiterals;
using Authorization = LocationService::Authorization;

Q_DECLARE_METATYPE(pelk::platform::LocationService::Failure)

// The GeoClue service through Qt Positioning's plugin, against a GeoClue stand-in on a
// private bus that the test starts as the system bus.
class TestGeoclueService : public QObject {
    Q_OBJECT

    QTemporaryDir m_data;
    pelk::fakes::MockSystemBus m_geoclue;

    void setManager(const QString &name, const QVariant &value)
    {
        const QDBusMessage reply
            = m_geoclue.call(u"/org/freedesktop/GeoClue2/Manager"_s, u"org.freedesktop.DBus.Mock"_s,
                u"UpdateProperties"_s, { u"org.freedesktop.GeoClue2.Manager"_s, QVariantMap { { name, value } } });
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<LocationService::Failure>();
        // Qt Positioning hides the plugins not marked testable from QtTest programs; this
        // test is about the real GeoClue plugin.
        qunsetenv("QT_QTESTLIB_RUNNING");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.filePath(u"home"_s)));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_data.path()));
        QVERIFY(QDir().mkpath(m_data.filePath(u"applications"_s)));
        QFile desktop(m_data.filePath(u"applications/pelk-agent.desktop"_s));
        QVERIFY(desktop.open(QIODevice::WriteOnly) && desktop.write("[Desktop Entry]\nType=Application\n") > 0);
        desktop.close();
        QVERIFY(m_geoclue.start(QStringLiteral(GEOCLUE_TEMPLATE), u"org.freedesktop.GeoClue2"_s));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_geoclue.address().toUtf8());
    }

    void cleanupTestCase()
    {
        // Without its service, the computer has no location service at all.
        m_geoclue.stopService();
        QTRY_VERIFY(!m_geoclue.serviceRegistered());
        QVERIFY(!GeoclueLocationService().servicesEnabled());
    }

    void init()
    {
        setManager(u"AvailableAccuracyLevel"_s, QVariant::fromValue(8u));
        setManager(u"TestDenyStart"_s, false);
    }

    void locationSwitchedOffForTheComputer()
    {
        setManager(u"AvailableAccuracyLevel"_s, QVariant::fromValue(0u));
        GeoclueLocationService service;
        QSignalSpy changed(&service, &LocationService::authorizationChanged);
        QVERIFY(service.servicesEnabled()); // not known yet
        QTRY_COMPARE(changed.count(), 1);
        // Switched on again: the next look still gives the last answer, asks, and says so.
        setManager(u"AvailableAccuracyLevel"_s, QVariant::fromValue(4u));
        QVERIFY(!service.servicesEnabled());
        QTRY_COMPARE(changed.count(), 2);
        QVERIFY(service.servicesEnabled());
    }

    // Without its desktop file, an application is denied; with it, a position means authorized.
    void positionMeansAuthorized()
    {
        QCOMPARE(GeoclueLocationService(u"pelk-agent-missing"_s).authorization(), Authorization::Denied);
        GeoclueLocationService service;
        QSignalSpy changed(&service, &LocationService::authorizationChanged);
        QSignalSpy located(&service, &LocationService::locationsUpdated);
        // The first look asks GeoClue itself: a tray application that never becomes active still reports.
        QCOMPARE(service.authorization(), Authorization::NotDetermined);
        QTRY_COMPARE(located.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(service.authorization(), Authorization::Authorized);
        const auto fixes = located.at(0).at(0).value<QList<LocationFix>>();
        QCOMPARE(fixes.size(), 1);
        QCOMPARE(QList<double>({ fixes[0].latitude, fixes[0].longitude, fixes[0].horizontalAccuracy }),
            QList<double>({ 48.8566, 2.3522, 65.0 }));
        QCOMPARE(fixes[0].timestamp, QDateTime(QDate(2026, 5, 1), QTime(9, 30), Qt::UTC));
    }

    void accessGrantedLaterIsNoticed()
    {
        setManager(u"TestDenyStart"_s, true);
        pelk::fakes::FakeClock clock;
        GeoclueLocationService service(QString(GeoclueLocationService::kDefaultDesktopId), &clock);
        QSignalSpy changed(&service, &LocationService::authorizationChanged);
        QSignalSpy failed(&service, &LocationService::failed);
        service.requestAuthorization();
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(service.authorization(), Authorization::Denied);
        // Refused again while already denied: a failure, not a change.
        service.requestLocation();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).value<LocationService::Failure>(), LocationService::Failure::Denied);
        // A minute on, a quiet probe whose refusal says nothing; allowed in the settings, the next
        // probe finds out and says so.
        clock.advance(60);
        QCOMPARE(service.authorization(), Authorization::Denied);
        setManager(u"TestDenyStart"_s, false);
        clock.advance(60);
        QCOMPARE(service.authorization(), Authorization::Denied);
        QTRY_COMPARE(changed.count(), 2);
        QCOMPARE(service.authorization(), Authorization::Authorized);
        QCOMPARE(failed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGeoclueService)
#include "test_geoclue_service.moc"
