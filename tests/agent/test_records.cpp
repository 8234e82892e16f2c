#include "agent/AgentStatus.h"
#include "agent/Profile.h"
#include "agent/Timestamp.h"
#include "boundary/AgentFile.h"
#include "boundary/StrictJson.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace pelk::agent;
using namespace pelk::boundary;
using namespace Qt::StringLiterals;

namespace {

QByteArray profileWith(const char *key, const QJsonValue &value, bool remove = false)
{
    QJsonObject o { { u"format"_s, u"pelk-enrollment"_s }, { u"version"_s, 1 },
        { u"base_url"_s, u"https://example.invalid"_s }, { u"workspace"_s, u"Acme"_s },
        { u"device_name"_s, u"mac-01"_s }, { u"device_id"_s, 42 }, { u"platform"_s, u"linux"_s },
        { u"role"_s, u"agent"_s }, { u"enrollment_token"_s, u"secret"_s },
        { u"expires_at"_s, u"2030-01-01T00:00:00Z"_s } };
    if (remove)
        o.remove(QLatin1StringView(key));
    else if (key)
        o.insert(QLatin1StringView(key), value);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

} // namespace

// How agent files are read and decoded: the safe read, strict records, timestamps.
class TestRecords : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void write(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private Q_SLOTS:
    void statusFull()
    {
        const auto s
            = AgentStatus::decode(R"({"phase":"connected","message":"ok","version":"1.2","workspace":"Acme",)"
                                  R"("base_url":"https://m.example","device_name":"d1","device_id":9007199254740993,)"
                                  R"("updated_at":"2026-01-01T00:00:00Z","last_checkin":"2026-01-01T00:00:00.5Z",)"
                                  R"("next_checkin_seconds":30,"signing_ready":true,"browser_history_enabled":false,)"
                                  R"("enrolled":true,"unknown_key":[1,2,{"x":null}]})");
        QVERIFY(s);
        QCOMPARE(s->deviceID, std::optional<qint64>(9007199254740993LL)); // beyond double precision
        QCOMPARE(s->nextCheckinSeconds, std::optional<qint64>(30));
        QCOMPARE(s->signingReady, std::optional<bool>(true));
        QCOMPARE(s->browserHistoryEnabled, std::optional<bool>(false));
        QCOMPARE(s->enrolled, std::optional<bool>(true));
        QCOMPARE(s->baseURL, std::optional<QString>(u"https://m.example"_s));
        QCOMPARE(s->lastCheckin, std::optional<QString>(u"2026-01-01T00:00:00.5Z"_s));
    }

    // null means absent, not a type error; unknown keys are skipped.
    void statusNullIsAbsent()
    {
        const auto s = AgentStatus::decode(R"({"phase":"x","message":"","enrolled":null,"device_id":null})");
        QVERIFY(s);
        QCOMPARE(*s, AgentStatus(u"x"_s, QString()));
    }

    void statusUndecodable_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("missing message") << QByteArray(R"({"phase":"connected"})");
        QTest::newRow("phase a number") << QByteArray(R"({"phase":1,"message":""})");
        QTest::newRow("enrolled as text") << QByteArray(R"({"phase":"a","message":"","enrolled":"true"})");
        QTest::newRow("fractional integer") << QByteArray(R"({"phase":"a","message":"","next_checkin_seconds":30.5})");
        QTest::newRow("integer too large") << QByteArray(R"({"phase":"a","message":"","device_id":1e19})");
        QTest::newRow("integer past int64")
            << QByteArray(R"({"phase":"a","message":"","device_id":9223372036854775808})");
        QTest::newRow("top-level array") << QByteArray(R"([{"phase":"a","message":""}])");
        QTest::newRow("truncated") << QByteArray("{\"phase\":\"a\",\"message\":\"");
        QTest::newRow("trailing garbage") << QByteArray(R"({"phase":"a","message":""} x)");
        QTest::newRow("not utf-8") << QByteArray("{\"phase\":\"a\xff\xfe\",\"message\":\"\"}");
        QTest::newRow("nested deep") << (QByteArray(10000, '[') + QByteArray(10000, ']'));
    }
    void statusUndecodable()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!AgentStatus::decode(bytes));
    }

    void integralNumbers()
    {
        using pelk::json::strictInteger;
        QCOMPARE(strictInteger(QJsonValue(30.0)), std::optional<qint64>(30));
        QCOMPARE(strictInteger(QJsonValue(-9223372036854775807LL - 1)), std::optional<qint64>(INT64_MIN));
        QVERIFY(!strictInteger(QJsonValue(9223372036854775808.0)));
        QVERIFY(!strictInteger(QJsonValue(0.1)));
        QVERIFY(!strictInteger(QJsonValue(true)));
        QVERIFY(!strictInteger(QJsonValue(u"1"_s)));
        QCOMPARE(AgentStatus::decode(R"({"phase":"a","message":"","next_checkin_seconds":1e2})")->nextCheckinSeconds,
            std::optional<qint64>(100));
    }

    void profileEveryKeyRequired()
    {
        for (const char *key : { "format", "version", "base_url", "workspace", "device_name", "device_id", "platform",
                 "role", "enrollment_token", "expires_at" }) {
            QVERIFY2(!Profile::decode(profileWith(key, {}, true)), key);
            QVERIFY2(!Profile::decode(profileWith(key, QJsonValue(QJsonValue::Null))), key);
        }
    }

    void profileWrongTypes()
    {
        QCOMPARE(Profile::decode(profileWith(nullptr, {}))->deviceID, 42);
        QVERIFY(!Profile::decode(profileWith("version", u"1"_s)));
        QVERIFY(!Profile::decode(profileWith("device_id", 1.5)));
    }

    void timestampAccepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("instant");
        QTest::newRow("Z") << u"2026-03-04T05:06:07Z"_s << utc(2026, 3, 4, 5, 6, 7);
        QTest::newRow("offset is an hour earlier") << u"2026-03-04T05:06:07+01:00"_s << utc(2026, 3, 4, 4, 6, 7);
        QTest::newRow("negative offset") << u"2026-03-04T23:30:00-02:30"_s << utc(2026, 3, 5, 2, 0, 0);
        QTest::newRow("one fraction digit") << u"2026-03-04T05:06:07.5Z"_s << utc(2026, 3, 4, 5, 6, 7, 500);
        QTest::newRow("microseconds truncated") << u"2026-03-04T05:06:07.123987Z"_s << utc(2026, 3, 4, 5, 6, 7, 123);
        QTest::newRow("crosses the year") << u"2026-12-31T23:59:59-00:01"_s << utc(2027, 1, 1, 0, 0, 59);
    }
    void timestampAccepted()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, instant);
        const auto parsed = timestamp(text);
        QVERIFY(parsed);
        QCOMPARE(parsed->toMSecsSinceEpoch(), instant.toMSecsSinceEpoch());
    }

    void timestampRejected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("no zone") << u"2026-03-04T05:06:07"_s;
        QTest::newRow("lower-case t") << u"2026-03-04t05:06:07Z"_s;
        QTest::newRow("offset without colon") << u"2026-03-04T05:06:07+0100"_s;
        QTest::newRow("empty fraction") << u"2026-03-04T05:06:07.Z"_s;
        QTest::newRow("February 29 of a common year") << u"2026-02-29T05:06:07Z"_s;
        QTest::newRow("second 60") << u"2026-03-04T05:06:60Z"_s;
        QTest::newRow("offset minutes 60") << u"2026-03-04T05:06:07+01:60"_s;
        QTest::newRow("trailing text") << u"2026-03-04T05:06:07Zjunk"_s;
        QTest::newRow("Arabic-Indic digits") << u"\u0662\u0660\u0662\u0666-03-04T05:06:07Z"_s;
    }
    void timestampRejected()
    {
        QFETCH(QString, text);
        QVERIFY(!timestamp(text));
    }

    void fileSizeCap()
    {
        write(path("empty.json"), QByteArray());
        QCOMPARE(readAgentFile(path("empty.json")), std::optional<QByteArray>(QByteArray()));
        write(path("cap.json"), QByteArray(100, 'x'));
        QCOMPARE(readAgentFile(path("cap.json"), 100), std::optional<QByteArray>(QByteArray(100, 'x')));
        QVERIFY(!readAgentFile(path("cap.json"), 99));
        write(path("big.json"), QByteArray(1024 * 1024 + 1, ' '));
        QVERIFY(!readAgentFile(path("big.json")));
    }

    void fileNotRegular()
    {
        QVERIFY(!readAgentFile(path("missing.json")));
        QVERIFY(!readAgentFile(m_dir.path()));
        // A FIFO with no writer must not block the caller.
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
        QVERIFY(!readAgentFile(path("fifo")));
        QVERIFY(QFile::link(u"/dev/zero"_s, path("zero.json")));
        QVERIFY(!readAgentFile(path("zero.json")));
        QVERIFY(QFile::link(path("a.json"), path("link.json")));
        write(path("a.json"), "ok");
        QCOMPARE(readAgentFile(path("link.json")), std::optional<QByteArray>("ok"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
