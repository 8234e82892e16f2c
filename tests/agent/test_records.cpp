#include "agent/AgentStatus.h"
#include "agent/Profile.h"
#include "agent/Timestamp.h"
#include "boundary/AgentFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace pelk::agent;
using namespace Qt::StringLiterals;

// How the agent's files and an enrollment file are read and decoded.
class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusEveryMember()
    {
        const auto s = AgentStatus::decode(R"({"phase":"connected","message":"ok","version":"1.2","workspace":"W",)"
                                           R"("base_url":"https://m","device_name":"d1","device_id":9007199254740993,)"
                                           R"("updated_at":"u","last_checkin":"c","next_checkin_seconds":1e2,)"
                                           R"("signing_ready":true,"browser_history_enabled":false,"enrolled":true,)"
                                           R"("unknown":[1,{"x":null}]})");
        QVERIFY(s);
        QCOMPARE(QStringList({ s->phase, s->message, s->version.value(), s->workspace.value(), s->baseURL.value(),
                     s->deviceName.value(), s->updatedAt.value(), s->lastCheckin.value() }),
            QStringList({ u"connected"_s, u"ok"_s, u"1.2"_s, u"W"_s, u"https://m"_s, u"d1"_s, u"u"_s, u"c"_s }));
        // The identifier is beyond a double's precision.
        QCOMPARE(QList<qint64>({ s->deviceID.value(), s->nextCheckinSeconds.value() }),
            QList<qint64>({ 9007199254740993LL, 100 }));
        QCOMPARE(QList<bool>({ s->signingReady.value(), s->browserHistoryEnabled.value(), s->enrolled.value() }),
            QList<bool>({ true, false, true }));
    }

    void statusStrictness_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("null is absent") << QByteArray(R"({"phase":"x","message":"","enrolled":null})") << true;
        QTest::newRow("smallest integer")
            << QByteArray(R"({"phase":"","message":"","device_id":-9223372036854775808})") << true;
        QTest::newRow("missing message") << QByteArray(R"({"phase":"connected"})") << false;
        QTest::newRow("phase a number") << QByteArray(R"({"phase":1,"message":""})") << false;
        QTest::newRow("Boolean as text") << QByteArray(R"({"phase":"","message":"","enrolled":"true"})") << false;
        QTest::newRow("fraction") << QByteArray(R"({"phase":"","message":"","next_checkin_seconds":30.5})") << false;
        QTest::newRow("past int64") << QByteArray(R"({"phase":"","message":"","device_id":9223372036854775808})")
                                    << false;
        QTest::newRow("top-level array") << QByteArray(R"([{"phase":"","message":""}])") << false;
        QTest::newRow("trailing garbage") << QByteArray(R"({"phase":"","message":""} x)") << false;
        QTest::newRow("not UTF-8") << QByteArray("{\"phase\":\"a\xff\",\"message\":\"\"}") << false;
        QTest::newRow("nested deep") << (QByteArray(10000, '[') + QByteArray(10000, ']')) << false;
    }
    void statusStrictness()
    {
        QFETCH(QByteArray, bytes);
        QTEST(AgentStatus::decode(bytes).has_value(), "decodes");
    }

    void profileEveryMemberRequired()
    {
        const QByteArray full = R"({"format":"f","version":1,"base_url":"b","workspace":"w","device_name":"n",)"
                                R"("device_id":42,"platform":"p","role":"r","enrollment_token":"t","expires_at":"e"})";
        const auto p = Profile::decode(full);
        QVERIFY(p);
        QCOMPARE(QStringList({ p->format, QString::number(p->version), p->baseURL, p->workspace, p->deviceName,
                     QString::number(p->deviceID), p->platform, p->role, p->enrollmentToken, p->expiresAt }),
            QStringList({ u"f"_s, u"1"_s, u"b"_s, u"w"_s, u"n"_s, u"42"_s, u"p"_s, u"r"_s, u"t"_s, u"e"_s }));
        for (const char *key : { "format", "version", "base_url", "workspace", "device_name", "device_id", "platform",
                 "role", "enrollment_token", "expires_at" }) {
            const QByteArray quoted = '"' + QByteArray(key) + "\":";
            QVERIFY2(!Profile::decode(QByteArray(full).replace(quoted, "\"other\":")), key);
            QVERIFY2(!Profile::decode(QByteArray(full).replace(quoted, QByteArray(quoted + "null,\"x\":"))), key);
        }
        QVERIFY(!Profile::decode(QByteArray(full).replace("\"version\":1", "\"version\":\"1\"")));
        QVERIFY(!Profile::decode(QByteArray(full).replace("\"device_id\":42", "\"device_id\":1.5")));
    }

    void timestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("instant"); // invalid: rejected
        const auto utc = [](int d, int h, int mi, int s, int ms = 0) {
            return QDateTime(QDate(2026, 3, d), QTime(h, mi, s, ms), Qt::UTC);
        };
        QTest::newRow("Z") << u"2026-03-04T05:06:07Z"_s << utc(4, 5, 6, 7);
        QTest::newRow("positive offset") << u"2026-03-04T05:06:07+01:00"_s << utc(4, 4, 6, 7);
        QTest::newRow("negative offset") << u"2026-03-04T23:30:00-02:30"_s << utc(5, 2, 0, 0);
        QTest::newRow("microseconds truncated") << u"2026-03-04T05:06:07.123987Z"_s << utc(4, 5, 6, 7, 123);
        QTest::newRow("crosses the year")
            << u"2025-12-31T23:59:59-00:01"_s << QDateTime(QDate(2026, 1, 1), QTime(0, 0, 59), Qt::UTC);
        QTest::newRow("lower-case t") << u"2026-03-04t05:06:07Z"_s << QDateTime();
        QTest::newRow("offset without colon") << u"2026-03-04T05:06:07+0100"_s << QDateTime();
        QTest::newRow("empty fraction") << u"2026-03-04T05:06:07.Z"_s << QDateTime();
        QTest::newRow("February 29, common year") << u"2026-02-29T05:06:07Z"_s << QDateTime();
        QTest::newRow("second 60") << u"2026-03-04T05:06:60Z"_s << QDateTime();
        QTest::newRow("offset hour 24") << u"2026-03-04T05:06:07+24:00"_s << QDateTime();
        QTest::newRow("trailing text") << u"2026-03-04T05:06:07Zjunk"_s << QDateTime();
        QTest::newRow("Arabic-Indic digits") << u"\u0662\u0660\u0662\u0666-03-04T05:06:07Z"_s << QDateTime();
    }
    void timestamps()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, instant);
        const auto parsed = timestamp(text);
        QCOMPARE(parsed.has_value(), instant.isValid());
        if (parsed)
            QCOMPARE(parsed->toMSecsSinceEpoch(), instant.toMSecsSinceEpoch());
    }

    // Only a regular file within the cap is read, and nothing blocks.
    void agentFileReads()
    {
        using pelk::boundary::readAgentFile;
        QTemporaryDir dir;
        const auto write = [&](const char *name, const QByteArray &bytes) {
            QFile f(dir.filePath(QLatin1StringView(name)));
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        const auto path = [&](const char *name) { return dir.filePath(QLatin1StringView(name)); };
        QVERIFY(write("empty", {}) && write("cap", QByteArray(100, 'x')) && write("big", QByteArray(1048577, ' ')));
        QCOMPARE(readAgentFile(path("empty")), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(readAgentFile(path("cap"), 100), std::optional<QByteArray>(QByteArray(100, 'x')));
        QVERIFY(!readAgentFile(path("cap"), 99));
        QVERIFY(!readAgentFile(path("big")));
        QVERIFY(!readAgentFile(path("missing")));
        QVERIFY(!readAgentFile(dir.path()));
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
        QVERIFY(!readAgentFile(path("fifo")));
        QVERIFY(QFile::link(u"/dev/zero"_s, path("zero")) && QFile::link(path("cap"), path("link")));
        QVERIFY(!readAgentFile(path("zero")));
        QCOMPARE(readAgentFile(path("link")), std::optional<QByteArray>(QByteArray(100, 'x')));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
