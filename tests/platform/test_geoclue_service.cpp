#include "fakes/FakeClock.h"
#include "platform/linux/GeoclueLocationService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::platform;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(pelk::platform::LocationService::Failure)

// The GeoClue service through Qt Positioning's plugin, against a GeoClue stand-in on a
// private bus that the test starts as the system bus.
class TestGeoclueService : public QObject {
    Q_OBJECT

    QTemporaryDir m_data;
    QProcess m_bus;
    QProcess m_geoclue;

    void setManager(const QString &name, const QVariant &value)
    {
        QDBusMessage update = QDBusMessage::createMethodCall(u"org.freedesktop.GeoClue2"_s,
            u"/org/freedesktop/GeoClue2/Manager"_s, u"org.freedesktop.DBus.Mock"_s, u"UpdateProperties"_s);
        update << u"org.freedesktop.GeoClue2.Manager"_s << QVariantMap { { name, value } };
        const QDBusMessage reply = QDBusConnection::systemBus().call(update);
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
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_data.filePath(u"system"_s)));
        QVERIFY(QDir().mkpath(m_data.filePath(u"system/applications"_s)));
        QFile desktop(m_data.filePath(u"system/applications/pelk-agent.desktop"_s));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.write("[Desktop Entry]\nType=Application\nName=Pelk Agent\nExec=pelk-agent\n");
        desktop.close();

        m_bus.start(u"dbus-daemon"_s, { u"--session"_s, u"--nofork"_s, u"--print-address=1"_s });
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY(m_bus.canReadLine());
        const QByteArray address = m_bus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);

        m_geoclue.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_geoclue.start(u"/usr/bin/python3"_s,
            { u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, QStringLiteral(GEOCLUE_TEMPLATE) });
        QVERIFY(m_geoclue.waitForStarted());
        QVERIFY(QDBusConnection::systemBus().isConnected());
        QTRY_VERIFY(QDBusConnection::systemBus().interface()->isServiceRegistered(u"org.freedesktop.GeoClue2"_s));
    }

    void cleanupTestCase()
    {
        // Without its service, the computer has no location service at all.
        m_geoclue.kill();
        m_geoclue.waitForFinished();
        QTRY_VERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(u"org.freedesktop.GeoClue2"_s));
        QVERIFY(!GeoclueLocationService().servicesEnabled());
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void init()
    {
        setManager(u"AvailableAccuracyLevel"_s, QVariant::fromValue(8u));
        setManager(u"TestDenyStart"_s, false);
    }

    void desktopIdWithoutDesktopFileIsDenied()
    {
        GeoclueLocationService service(u"pelk-agent-missing"_s);
        QCOMPARE(service.authorization(), LocationService::Authorization::Denied);
        GeoclueLocationService installed;
        QCOMPARE(installed.authorization(), LocationService::Authorization::NotDetermined);
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

    void positionMeansAuthorized()
    {
        GeoclueLocationService service;
        QSignalSpy changed(&service, &LocationService::authorizationChanged);
        QSignalSpy located(&service, &LocationService::locationsUpdated);
        QCOMPARE(service.authorization(), LocationService::Authorization::NotDetermined);
        service.requestLocation();
        QTRY_COMPARE(located.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(service.authorization(), LocationService::Authorization::Authorized);
        const auto fixes = located.at(0).at(0).value<QList<LocationFix>>();
        QCOMPARE(fixes.size(), 1);
        QCOMPARE(fixes.at(0).latitude, 48.8566);
        QCOMPARE(fixes.at(0).longitude, 2.3522);
        QCOMPARE(fixes.at(0).horizontalAccuracy, 65.0);
        QCOMPARE(fixes.at(0).timestamp, QDateTime(QDate(2026, 5, 1), QTime(9, 30), Qt::UTC));
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
        QCOMPARE(service.authorization(), LocationService::Authorization::Denied);
        // Refused again while already denied: a failure, not a change.
        service.requestLocation();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).value<LocationService::Failure>(), LocationService::Failure::Denied);
        QCOMPARE(changed.count(), 1);
        // Within the minute nothing is asked; after it, a quiet probe whose refusal says nothing.
        clock.advance(59);
        QCOMPARE(service.authorization(), LocationService::Authorization::Denied);
        clock.advance(1);
        QCOMPARE(service.authorization(), LocationService::Authorization::Denied);
        // Allowed in the settings: the next probe finds out and says so.
        setManager(u"TestDenyStart"_s, false);
        clock.advance(60);
        QCOMPARE(service.authorization(), LocationService::Authorization::Denied);
        QTRY_COMPARE(changed.count(), 2);
        QCOMPARE(service.authorization(), LocationService::Authorization::Authorized);
        QCOMPARE(failed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGeoclueService)
#include "test_geoclue_service.moc"
