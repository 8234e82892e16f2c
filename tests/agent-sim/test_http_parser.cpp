#include "HttpRequestParser.h"

#include <QTest>

using namespace pelk::agentsim;

namespace {

HttpRequestParser makeParser()
{
    HttpRequestParser::Limits limits;
    limits.maxHeadBytes = 1024;
    limits.maxHeaderFields = 8;
    limits.maxBodyBytes = [](const QByteArray &path) { return path == "/big" ? qint64(4096) : qint64(16); };
    return HttpRequestParser(limits);
}

} // namespace

class TestHttpParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accepted_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("crlf") << QByteArray("POST /unlock HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello")
                              << QByteArray("/unlock") << QByteArray("hello");
        QTest::newRow("bare lf") << QByteArray("POST /unlock HTTP/1.1\nContent-Length: 2\n\nhi")
                                 << QByteArray("/unlock") << QByteArray("hi");
        QTest::newRow("query and doubled slash")
            << QByteArray("POST //support?a=b HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QByteArray("/support")
            << QByteArray();
        QTest::newRow("per-path limit") << QByteArray("POST /big HTTP/1.1\r\nContent-Length: 20\r\n\r\n")
                + QByteArray(20, 'x') << QByteArray("/big")
                                        << QByteArray(20, 'x');
    }

    // Whole, and byte by byte: the result must not depend on how the bytes arrive.
    void accepted()
    {
        QFETCH(QByteArray, wire);
        for (const qsizetype step : { wire.size(), qsizetype(1) }) {
            HttpRequestParser parser = makeParser();
            HttpRequestParser::Result result = HttpRequestParser::Result::NeedMore;
            for (qsizetype i = 0; i < wire.size() && result == HttpRequestParser::Result::NeedMore; i += step) {
                parser.append(wire.mid(i, step));
                result = parser.parse();
            }
            QCOMPARE(result, HttpRequestParser::Result::Complete);
            const HttpRequest request = parser.takeRequest();
            QTEST(request.path, "path");
            QTEST(request.body, "body");
            QCOMPARE(parser.buffered(), 0);
        }
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("headKnown");
        const QByteArray line = "POST /x HTTP/1.1\r\n";
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x05\x01\r\n\r\n") << 400 << false;
        QTest::newRow("http/2") << QByteArray("POST /x HTTP/2.0\r\n\r\n") << 505 << false;
        QTest::newRow("no colon") << line + "Content-Length 3\r\n\r\n" << 400 << false;
        QTest::newRow("folded field") << line + "A: b\r\n c\r\n\r\n" << 400 << false;
        QTest::newRow("control in value") << line + "A: b\x01\r\n\r\n" << 400 << false;
        QTest::newRow("negative length") << line + "Content-Length: -1\r\n\r\n" << 400 << true;
        QTest::newRow("conflicting lengths") << line + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n" << 400 << true;
        QTest::newRow("too long") << line + "Content-Length: 17\r\n\r\n" << 413 << true;
        QTest::newRow("chunked") << line + "Transfer-Encoding: chunked\r\n\r\n" << 501 << true;
        QTest::newRow("too many fields") << line + QByteArray("A: b\r\n").repeated(9) + "\r\n" << 431 << false;
        QTest::newRow("endless head") << line + QByteArray("A: ") + QByteArray(2000, 'b') << 431 << false;
    }

    void refused()
    {
        QFETCH(QByteArray, wire);
        QFETCH(int, status);
        QFETCH(bool, headKnown);
        HttpRequestParser parser = makeParser();
        parser.append(wire);
        QCOMPARE(parser.parse(), HttpRequestParser::Result::Error);
        QCOMPARE(parser.errorStatus(), status);
        QCOMPARE(parser.hasHead(), headKnown);
        parser.append("POST /x HTTP/1.1\r\n\r\n"); // nothing after an error is read
        QCOMPARE(parser.parse(), HttpRequestParser::Result::Error);
    }

    // Two requests in one read stay apart; a body waits for its whole length.
    void pipelinedAndPartial()
    {
        HttpRequestParser parser = makeParser();
        parser.append("POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcPOST /b HTTP/1.1\r\nConnection: close\r\n"
                      "Expect: 100-continue\r\nContent-Length: 4\r\n\r\nde");
        QCOMPARE(parser.parse(), HttpRequestParser::Result::Complete);
        const HttpRequest first = parser.takeRequest();
        QVERIFY(first.body == "abc" && first.keepAlive());
        QCOMPARE(parser.parse(), HttpRequestParser::Result::NeedMore);
        QVERIFY(parser.headComplete() && parser.expectsContinue());
        parser.append("fg");
        QCOMPARE(parser.parse(), HttpRequestParser::Result::Complete);
        const HttpRequest second = parser.takeRequest();
        QVERIFY(second.path == "/b" && second.body == "defg" && !second.keepAlive());
        QCOMPARE(parser.parse(), HttpRequestParser::Result::NeedMore);
    }
};

QTEST_GUILESS_MAIN(TestHttpParser)
#include "test_http_parser.moc"
