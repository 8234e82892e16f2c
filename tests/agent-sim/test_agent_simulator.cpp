#include "AgentSimulator.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;

namespace {

// Writes bytes on a fresh connection over a plain socket, so that a test controls every byte,
// and collects everything the server sends until it closes the connection.
QByteArray rawExchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, port);
    if (!socket.waitForConnected(5000))
        return "(no connection)";
    socket.write(bytes);
    QByteArray received;
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    if (socket.state() == QAbstractSocket::ConnectedState && !closed.wait(10000))
        return "(left open)";
    return received + socket.readAll();
}

} // namespace

// The fake agent the demo and the end-to-end tests run against: the session check those runs take
// for granted and never see fail. (Its HTTP parser is the fuzz target's.)
class TestAgentSimulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The session header, in any letter case, exactly once.
    void sessionHeaderIsChecked()
    {
        QTemporaryDir dir;
        AgentSimulator sim(dir.path());
        sim.setSession(u"token-1"_s);
        QVERIFY(sim.listen());
        const QByteArray right = "X-Pelk-Session: token-1\r\n";
        const QByteArray rest = "Content-Length: 20\r\nConnection: close\r\n\r\n{\"command_uuid\":\"c\"}";
        for (const auto &[headers, status] : { std::pair(right, "200"), std::pair(right.toLower(), "200"),
                 std::pair(QByteArray(), "401"), std::pair(QByteArray("X-Pelk-Session: token-2\r\n"), "403"),
                 std::pair(QByteArray(right + right), "403") })
            QCOMPARE(rawExchange(sim.port(), "POST /presence HTTP/1.1\r\n" + headers + rest).left(12),
                "HTTP/1.1 "_ba + status);
    }
};

QTEST_GUILESS_MAIN(TestAgentSimulator)
#include "test_agent_simulator.moc"
