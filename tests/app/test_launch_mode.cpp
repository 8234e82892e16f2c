#include "app/LaunchMode.h"

#include <QTest>

using namespace pelk::app;
using namespace Qt::StringLiterals;

class TestLaunchMode : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modeFromArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<LaunchMode>("mode");
        const QString exe = u"/usr/bin/pelk-agent"_s;
        QTest::newRow("none") << QStringList { exe } << LaunchMode::StatusBar;
        QTest::newRow("recovery beats lock") << QStringList { exe, u"--lock-session"_s, u"--create-recovery-admin"_s }
                                             << LaunchMode::CreateRecoveryAdmin;
        QTest::newRow("recovery beats lock, other order") << QStringList { exe, u"--create-recovery-admin"_s,
            u"--lock-session"_s } << LaunchMode::CreateRecoveryAdmin;
        QTest::newRow("lock beats login window")
            << QStringList { exe, u"--login-window"_s, u"--lock-session"_s } << LaunchMode::LockSession;
        QTest::newRow("login window with background")
            << QStringList { exe, u"--background"_s, u"--login-window"_s } << LaunchMode::LoginWindow;
        QTest::newRow("repeated") << QStringList { exe, u"--login-window"_s, u"--login-window"_s }
                                  << LaunchMode::LoginWindow;
        QTest::newRow("with a value is not the switch")
            << QStringList { exe, u"--lock-session=1"_s } << LaunchMode::StatusBar;
        QTest::newRow("letter case matters")
            << QStringList { exe, u"--Lock-Session"_s, u"--LOGIN-WINDOW"_s } << LaunchMode::StatusBar;
        QTest::newRow("surrounding blanks")
            << QStringList { exe, u" --create-recovery-admin"_s } << LaunchMode::StatusBar;
        QTest::newRow("program path itself") << QStringList { u"--lock-session"_s } << LaunchMode::LockSession;
    }
    void modeFromArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(LaunchMode, mode);
        QCOMPARE(launchModeFor(arguments), mode);
    }
};

QTEST_GUILESS_MAIN(TestLaunchMode)
#include "test_launch_mode.moc"
