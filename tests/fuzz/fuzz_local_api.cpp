// Answers the local API requests with arbitrary bytes from a loopback server: the lock's
// presence and unlock requests, which only ask whether the agent said 200, and the support
// requests, which keep the answer's body up to a cap. The first byte picks the cap (1 MiB as
// the support controller uses, or 64 bytes), the rest is the raw HTTP answer, sent after the
// request has arrived whole, then the connection is closed.
// Properties: a success needs a status line with code 200; a kept body never exceeds its cap.

#include "Property.h"
#include "boundary/LocalApi.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>

using namespace Qt::StringLiterals;
using namespace pelk;

namespace {

// Answers each connection with `answer` once the request (head and Content-Length body) is in.
class RawServer : public QTcpServer {
public:
    QByteArray answer;

    RawServer()
    {
        require(listen(QHostAddress::LocalHost), "the loopback server listens");
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    requests.remove(socket); // a later socket may reuse the address
                    socket->deleteLater();
                });
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            }
        });
    }

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &seen = requests[socket];
        seen += socket->readAll();
        const qsizetype headEnd = seen.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        static const QRegularExpression length(u"(?i)\r\ncontent-length: *(\\d+)"_s);
        const auto match = length.match(QString::fromLatin1(seen.left(headEnd)));
        if (seen.size() < headEnd + 4 + (match.hasMatch() ? match.captured(1).toLongLong() : 0))
            return;
        requests.remove(socket);
        socket->write(answer);
        socket->disconnectFromHost();
    }
    QHash<QTcpSocket *, QByteArray> requests;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return -1;
    static RawServer server;
    static boundary::NetworkApiRequester requester;
    const qint64 cap = data[0] & 1 ? 64 : 1024 * 1024;
    server.answer = QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    // Qt reads the code whatever the version says ("HTTP/0.1 200" is a 200 too), as a number
    // ("0200" and "+200" are 200).
    static const QRegularExpression ok(u"(^|\n)HTTP/\\S* +\\+?0*200"_s);
    const bool saysOk = ok.match(QString::fromLatin1(server.answer)).hasMatch();

    const QUrl url(u"http://127.0.0.1:%1/support"_s.arg(server.serverPort()));
    const std::optional<QNetworkRequest> request = boundary::localApiRequest(url, u"tok"_s);
    require(request.has_value(), "a loopback request");

    QEventLoop loop;
    QTimer::singleShot(8000, &loop, [] { require(false, "every request completes"); });
    int pending = 2;
    const auto finished = [&loop, &pending] {
        if (--pending == 0)
            loop.quit();
    };
    requester.postForBody(*request, R"({"action":"poll","session_id":"s1"})", cap, [&](std::optional<QByteArray> body) {
        require(!body || saysOk, "a kept body came with a 200");
        require(!body || body->size() <= cap, "a kept body is within its cap");
        finished();
    });
    requester.post(*request, R"({"pin":"1234"})", [&](bool success) {
        require(!success || saysOk, "a success came with a 200");
        finished();
    });
    loop.exec();
    return 0;
}
