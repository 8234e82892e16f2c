#include "agent/AgentStatus.h"
#include "agent/Profile.h"
#include "agent/StrictJson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace pelk::agent;
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

} // namespace

class TestRecords : public QObject {
    Q_OBJECT
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
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
