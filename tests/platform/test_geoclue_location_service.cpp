#include "platform/linux/GeoclueLocationService.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::platform;
using namespace Qt::StringLiterals;

// Runs with the system bus pointed at nothing, so GeoClue is never reachable here.
class TestGeoclueLocationService : public QObject {
    Q_OBJECT

    QTemporaryDir m_data;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.filePath(u"home"_s)));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_data.filePath(u"system"_s)));
    }

    void desktopIdWithoutDesktopFileIsDenied()
    {
        GeoclueLocationService service(u"pelk-agent-test"_s);
        QCOMPARE(service.authorization(), LocationService::Authorization::Denied);

        QVERIFY(QDir().mkpath(m_data.filePath(u"system/applications"_s)));
        QFile desktop(m_data.filePath(u"system/applications/pelk-agent-test.desktop"_s));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.write("[Desktop Entry]\nType=Application\nName=Pelk Agent\nExec=pelk-agent\n");
        desktop.close();
        QCOMPARE(service.authorization(), LocationService::Authorization::NotDetermined);
    }

    void unreachableGeoclueMeansServicesOff()
    {
        GeoclueLocationService service(u"pelk-agent-test"_s);
        QVERIFY(!service.servicesEnabled());
    }
};

QTEST_GUILESS_MAIN(TestGeoclueLocationService)
#include "test_geoclue_location_service.moc"
