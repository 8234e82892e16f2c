#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace pelk::fakes {

// A private bus standing in for the system bus, with a python-dbusmock template serving on it.
// Code under test reaches it through DBUS_SYSTEM_BUS_ADDRESS set to address().
class MockSystemBus {
public:
    static bool available()
    {
        return QFile::exists(QStringLiteral("/usr/bin/dbus-daemon"))
            && QFile::exists(QStringLiteral("/usr/bin/python3"));
    }

    ~MockSystemBus()
    {
        stopService();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // The template (a dbusmock name or a file) serving the named service; the bare bus without one.
    bool start(const QString &dbusmockTemplate = QString(), const QString &service = QString())
    {
        m_service = service;
        m_bus.start(QStringLiteral("/usr/bin/dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
        if (!QTest::qWaitFor([&] { return m_bus.canReadLine(); }, 10000))
            return false;
        m_address = QString::fromUtf8(m_bus.readLine().trimmed());
        if (dbusmockTemplate.isEmpty())
            return true;
        m_mock.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + m_address);
        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                QStringLiteral("--template"), dbusmockTemplate });
        return bus().isConnected() && QTest::qWaitFor([&] { return serviceRegistered(); }, 20000);
    }

    void stopService()
    {
        m_mock.kill();
        m_mock.waitForFinished();
    }
    bool serviceRegistered() const { return bus().interface()->isServiceRegistered(m_service).value(); }

    QString address() const { return m_address; }
    QDBusConnection bus() const { return QDBusConnection::connectToBus(m_address, m_address); }

    QDBusMessage call(const QString &path, const QString &interface, const QString &method, const QVariantList &args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(m_service, path, interface, method);
        message.setArguments(args);
        return bus().call(message, QDBus::Block, 5000);
    }

private:
    QProcess m_bus;
    QProcess m_mock;
    QString m_address;
    QString m_service;
};

// logind's mock: sessions are added by id, each active for uid 1000 on seat0.
class MockLogind : public MockSystemBus {
public:
    bool start() { return MockSystemBus::start(QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1")); }

    bool addSession(const QString &id)
    {
        return call(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.DBus.Mock"),
                   QStringLiteral("AddSession"), { id, QStringLiteral("seat0"), 1000u, QStringLiteral("alice"), true })
                   .type()
            == QDBusMessage::ReplyMessage;
    }

    static QString sessionPath(const QString &id) { return QStringLiteral("/org/freedesktop/login1/session/") + id; }

    // How many times the session has been asked to lock.
    int lockCalls(const QString &id)
    {
        const QDBusMessage reply = call(sessionPath(id), QStringLiteral("org.freedesktop.DBus.Mock"),
            QStringLiteral("GetMethodCalls"), { QStringLiteral("Lock") });
        const auto calls = reply.arguments().value(0).value<QDBusArgument>();
        int count = 0;
        calls.beginArray();
        for (; !calls.atEnd(); ++count) {
            qulonglong time = 0;
            QVariantList arguments;
            calls.beginStructure();
            calls >> time >> arguments;
            calls.endStructure();
        }
        calls.endArray();
        return count;
    }
};

} // namespace pelk::fakes
