#pragma once

#include <QFile>
#include <QProcess>
#include <QTest>

namespace pelk::fakes {

// A private Xvfb on a display number it picks itself, made this process's X11 session. It writes
// that number only once it accepts connections, so reading it is the wait for readiness.
class PrivateXvfb {
public:
    static bool available() { return QFile::exists(QStringLiteral("/usr/bin/Xvfb")); }

    ~PrivateXvfb() { stop(); }

    // -noreset: otherwise the server starts over, refusing connections, whenever its last client leaves.
    bool start(const QString &screen)
    {
        m_server.start(QStringLiteral("/usr/bin/Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"), QStringLiteral("-screen"),
                QStringLiteral("0"), screen, QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        if (!m_server.waitForStarted() || !QTest::qWaitFor([this] { return m_server.canReadLine(); }, 20000))
            return false;
        m_display = ':' + m_server.readLine().trimmed();
        useAsSession();
        return true;
    }

    // DISPLAY names this server and nothing says Wayland.
    void useAsSession() const
    {
        qputenv("DISPLAY", m_display);
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("XDG_SESSION_TYPE", "x11");
    }

    bool stop()
    {
        m_server.terminate();
        return m_server.waitForFinished(5000);
    }

    const QByteArray &display() const { return m_display; }

private:
    QProcess m_server;
    QByteArray m_display;
};

} // namespace pelk::fakes
