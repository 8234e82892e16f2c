#include "AgentModelFixture.h"
#include "agent/EnrollmentImport.h"
#include "agent/Timestamp.h"
#include "boundary/AgentFile.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <limits>
#include <sys/stat.h>

using namespace pelk;
using namespace pelk::agent;
using namespace Qt::StringLiterals;
using Outcome = platform::PrivilegedRunner::Outcome;
using Authorization = platform::LocationService::Authorization;
using Failure = platform::LocationService::Failure;

namespace {

const QString kInvalid = agent::description(agent::SetupError::Invalid);
const QString kExpired = agent::description(agent::SetupError::Expired);
const QString kUnreadable = QString(agent::texts::kUnreadableFile);

} // namespace

// How the agent's files and an enrollment file are read and decoded, what the model makes of the
// agent's status file (members are written as the agent spells them), how its importer checks an
// enrollment file and hands it to the helper, and what its location reporter writes to
// location.json and shows as the service answers.
class TestAgentModel : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;

    QString error(const QString &file)
    {
        f->import().loadFile(file);
        return f->import().errorText();
    }
    location::LocationReporter &reporter() const { return *f->model->location(); }
    QJsonObject locationFile() const { return QJsonDocument::fromJson(f->read(f->path("location.json"))).object(); }
    QString written() const { return locationFile().value(u"status"_s).toString(); }
    void deliver(double accuracy = 65) { f->service->deliver({ { 48.8566, 2.3522, accuracy, f->clock.now() } }); }

private Q_SLOTS:
    void init() { f = std::make_unique<testing::AgentModelFixture>(); }

    void statusEveryMember()
    {
        const auto s = AgentStatus::decode(R"({"phase":"connected","message":"ok","version":"1.2","workspace":"W",)"
                                           R"("base_url":"https://m","device_name":"d1","device_id":9007199254740993,)"
                                           R"("updated_at":"u","last_checkin":"c","next_checkin_seconds":1e2,)"
                                           R"("signing_ready":true,"browser_history_enabled":false,"enrolled":true,)"
                                           R"("unknown":[1,{"x":null}]})");
        QVERIFY(s);
        // The identifier is beyond a double's precision.
        QCOMPARE(QVariantList({ s->phase, s->message, *s->version, *s->workspace, *s->baseURL, *s->deviceName,
                     *s->updatedAt, *s->lastCheckin, *s->deviceID, *s->nextCheckinSeconds, *s->signingReady,
                     *s->browserHistoryEnabled, *s->enrolled }),
            QVariantList({ u"connected"_s, u"ok"_s, u"1.2"_s, u"W"_s, u"https://m"_s, u"d1"_s, u"u"_s, u"c"_s,
                9007199254740993LL, 100LL, true, false, true }));
    }

    void statusStrictness_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("decodes");
        const auto row = [](const QByteArray &bytes, bool decodes) {
            QTest::newRow(bytes.left(64).constData()) << bytes << decodes;
        };
        row(R"({"phase":"x","message":"","enrolled":null})", true); // null is absent
        row(R"({"phase":"","message":"","device_id":-9223372036854775808})", true);
        for (const char *refused :
            { R"({"phase":"connected"})", R"({"phase":"","message":"","next_checkin_seconds":30.5})",
                R"({"phase":"","message":"","device_id":9223372036854775808})", R"([{"phase":"","message":""}])",
                R"({"phase":"","message":""} x)", "{\"phase\":\"a\xff\",\"message\":\"\"}" })
            row(refused, false);
    }
    void statusStrictness()
    {
        QFETCH(QByteArray, bytes);
        QTEST(AgentStatus::decode(bytes).has_value(), "decodes");
    }

    void timestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("msAfterMarch4"); // -1: rejected
        const auto row = [](const char *text, qint64 ms) { QTest::newRow(text) << QString::fromUtf8(text) << ms; };
        row("2026-03-04T05:06:07Z", 18367000);
        row("2026-03-04T05:06:07+01:00", 14767000);
        row("2026-03-04T23:30:00-02:30", 93600000);
        row("2026-03-04T05:06:07.123987Z", 18367123); // microseconds truncated
        for (const char *rejected : { "2026-03-04t05:06:07Z", "2026-03-04T05:06:07+0100", "2026-03-04T05:06:07.Z",
                 "2026-02-29T05:06:07Z", "2026-03-04T05:06:60Z", "2026-03-04T05:06:07+24:00",
                 "2026-03-04T05:06:07Zjunk", "\u0662\u0660\u0662\u0666-03-04T05:06:07Z" })
            row(rejected, -1);
    }
    void timestamps()
    {
        QFETCH(QString, text);
        QFETCH(qint64, msAfterMarch4);
        const auto parsed = timestamp(text);
        QCOMPARE(parsed ? QDateTime(QDate(2026, 3, 4), QTime(0, 0), Qt::UTC).msecsTo(*parsed) : -1, msAfterMarch4);
    }

    // Only a regular file within the cap is read, and nothing blocks.
    void agentFileReads()
    {
        using boundary::readAgentFile;
        QCOMPARE(readAgentFile(f->write(f->path("small"), "x")), std::optional<QByteArray>("x"));
        QVERIFY(!readAgentFile(f->write(f->path("big"), QByteArray(1048577, ' '))));
        QCOMPARE(::mkfifo(QFile::encodeName(f->path("fifo")).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, f->path("zero")) && QFile::link(f->path("small"), f->path("link")));
        QVERIFY(!readAgentFile(f->path("fifo")) && !readAgentFile(f->path("zero")) && !readAgentFile(f->path("none")));
        QCOMPARE(readAgentFile(f->path("link")), std::optional<QByteArray>("x"));
    }

    void startPollsAtOnceAndFollowsThePreviewVariable()
    {
        QSignalSpy changed(f->model.get(), &agent::AgentModel::statusChanged);
        f->write(f->statusPath(), R"({"phase":"connected","message":"ok"})");
        f->model->start();
        QVERIFY(changed.count() == 1 && f->model->connected() && f->service->locationRequests == 1);
        QVERIFY(f->model->locationMessage().startsWith(u"Waiting for a location from this computer."_s));
        QVERIFY(!f->model->locationReporting() && (deliver(), f->model->locationReporting())); // the location button
        const auto phase = [this] { return f->model->refresh(), f->model->phase(); };
        f->environment.values["PELK_AGENT_PREVIEW_STATUS"]
            = f->write(f->path("p"), R"({"phase":"revoked","message":"x"})");
        QCOMPARE(phase(), u"revoked"_s);
        f->environment.values["PELK_AGENT_PREVIEW_STATUS"] = QString(); // names no file
        QCOMPARE(phase(), u"stopped"_s);
        f->environment.values.remove("PELK_AGENT_PREVIEW_STATUS");
        QCOMPARE(phase(), u"connected"_s);
    }

    // What the model shows for a status file at 2026-05-01T09:30:00Z (phase "connected" unless given):
    // the phase, whether location reporting runs, then any last check-in and, while the connected
    // details show, the next. A status older than its check-in interval (60 s when absent) plus 30 s
    // shows as stopped.
    void statusShown_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const QByteArray &members, const char *shown) {
            QTest::newRow(name) << members << QString::fromUtf8(shown);
        };
        row("offline", R"("phase":"offline","last_checkin":"2026-05-01T09:29:00Z")",
            "offline reporting | 1 minute ago");
        row("enrolled false", R"("enrolled":false)", "connected");
        row("phase in other case", R"("phase":"Connected")", "Connected");
        row("garbled", R"("enrolled":1)", "stopped");
        row("check-in 60 s ago", R"("last_checkin":"2026-05-01T09:29:00Z")",
            "connected reporting | 1 minute ago | Checking in\u2026");
        row("check-in 10 s ago, interval 300", R"("last_checkin":"2026-05-01T09:29:50Z","next_checkin_seconds":300)",
            "connected reporting | 10 seconds ago | Next check-in in 290s");
        row("check-in ahead", R"("last_checkin":"2026-05-01T09:30:30.000Z")",
            "connected reporting | in 30 seconds | Next check-in in 90s");
        row("exactly 90 s old", R"("updated_at":"2026-05-01T09:28:30Z")", "connected reporting");
        row("90.001 s old", R"("updated_at":"2026-05-01T09:28:29.999Z")", "stopped");
        row("330 s old, interval 300", R"("updated_at":"2026-05-01T09:24:30Z","next_checkin_seconds":300)",
            "connected reporting");
        // Intervals whose limit overflows 64 bits in seconds, then in milliseconds.
        for (const char *interval : { "9223372036854775807", "9223372036854775777" })
            row(interval, R"("updated_at":"2020-01-01T00:00:00Z","next_checkin_seconds":)"_ba + interval,
                "connected reporting");
    }
    void statusShown()
    {
        QFETCH(QByteArray, members);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        f->status(members.contains("phase") ? members : QByteArray(R"("phase":"connected",)") + members);
        const agent::AgentModel &m = *f->model;
        QString shown = m.phase() + (m.location()->isActive() ? u" reporting"_s : QString());
        if (m.lastSeen() != QLatin1StringView(agent::texts::kNoCheckinYet))
            shown += u" | "_s + m.lastSeen();
        if (m.connectedDetailsShown())
            shown += u" | "_s + m.nextCheckinLine();
        QTEST(shown, "shown");
    }

    void memberChecks_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<QString>("error"); // empty: accepted
        const auto row = [](const QByteArray &name, const char *key, const QJsonValue &value, const QString &error) {
            QTest::newRow(name.constData()) << QJsonObject { { QLatin1StringView(key), value } } << error;
        };
        // Every member is required, and null counts as missing.
        for (const char *key : { "format", "version", "base_url", "workspace", "device_name", "device_id", "platform",
                 "role", "enrollment_token", "expires_at" })
            row("no "_ba + key, key, QJsonValue::Null, kUnreadable);
        row("version as text", "version", u"1"_s, kUnreadable);
        row("format", "format", u"co.pelkcore.agent-enrollment.v2"_s, kInvalid);
        row("version 2", "version", 2, kInvalid);
        row("role", "role", u"agent"_s, kInvalid);
        row("platform", "platform", u"linux"_s, kInvalid);
        row("device_id 0", "device_id", 0, kInvalid);
        row("url with port and slash", "base_url", u"https://m.example:8443/"_s, QString());
        for (const QString &url : { u"http://m.example"_s, u"HTTPS://m.example"_s, u"https://m.example/api"_s,
                 u"https://m.example?"_s, u"https://m.example/#"_s, u"https://@m.example"_s, u"https:///"_s })
            row(qPrintable(url), "base_url", url, kInvalid);
        // 32 user-perceived characters, each an e with a combining accent (64 UTF-16 units).
        row("token 32 graphemes", "enrollment_token", QString(u"e\u0301"_s).repeated(32), QString());
        row("token 31 graphemes", "enrollment_token", QString(u"e\u0301"_s).repeated(31), kInvalid);
        row("expiry exactly now", "expires_at", u"2026-05-01T09:30:00Z"_s, kExpired);
        row("expiry a millisecond later", "expires_at", u"2026-05-01T09:30:00.001Z"_s, QString());
        row("expiry unreadable", "expires_at", u"soon"_s, kExpired);
        QTest::newRow("invalid beats expired")
            << QJsonObject { { u"role"_s, u"agent"_s }, { u"expires_at"_s, u"2020-01-01T00:00:00Z"_s } } << kInvalid;
    }
    void memberChecks()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(QString, error);
        QCOMPARE(this->error(f->enrollment("profile.json", changes)), error);
        QCOMPARE(f->import().selectedDeviceName(), error.isEmpty() ? u"mac-01"_s : QString());
    }

    // Only a regular local file of at most 64 KiB is read; a refused file keeps the last good one.
    void fileChecks()
    {
        const QString exact = f->enrollment("exact.json");
        const QByteArray padded = f->read(exact).leftJustified(65536, ' ');
        QVERIFY(error(f->write(exact, padded)).isEmpty());
        QCOMPARE(error(f->write(f->path("over.json"), padded + ' ')), kInvalid);
        QVERIFY(QFile::link(exact, f->path("link.json")));
        QCOMPARE(error(f->path("link.json")), kInvalid);
        f->import().load(QUrl(u"https://m.example/enrollment.json"_s));
        QVERIFY(f->import().errorText() == kUnreadable && f->import().hasSelection());
    }

    // The helper really runs: it gets the private copy and its digest intact.
    void successfulImport()
    {
        const QString helper = f->write(f->path("helper"),
            "#!/bin/sh\nprintf '%s\\n' \"$@\" \"$(stat -c %a \"$2\")\" \"$(sha256sum < \"$2\")\" > \"$0.log\"\n");
        QVERIFY(QFile::setPermissions(helper, QFile::ReadOwner | QFile::ExeOwner));
        f->runner->inspect
            = [](const QString &program, const QStringList &arguments) { QProcess::execute(program, arguments); };
        const QString profile = f->enrollment("profile.json");
        const QString digest
            = QString::fromLatin1(QCryptographicHash::hash(f->read(profile), QCryptographicHash::Sha256).toHex());
        f->import().loadFile(profile);
        f->import().connect();
        QTRY_VERIFY(!f->import().busy());
        const QStringList args = QString::fromUtf8(f->read(helper + u".log"_s)).split(u'\n');
        QVERIFY(args.value(1).startsWith(f->copyDirectory + u'/'));
        QCOMPARE(args.mid(0, 1) + args.mid(2),
            QStringList({ u"--import-enrollment"_s, u"--enrollment-sha256"_s, digest, u"600"_s, digest + u"  -"_s,
                QString() }));
        QVERIFY(!QFile::exists(f->path("CANARY")) && f->copies().isEmpty() && !f->import().hasSelection());
        QCOMPARE(f->model->message(), u"Enrollment imported. Connecting to https://m.example\u2026"_s);

        // Until the agent writes a status dated at or after the import (at 09:30), "connecting" holds.
        f->status(R"("phase":"connected","updated_at":"2026-05-01T09:29:59.999Z")");
        QVERIFY(f->model->phase() == u"connecting"_s && f->refreshes == 1); // ignored, and nobody is told
        f->status(R"("phase":"connected","updated_at":"2026-05-01T09:30:00Z")");
        QCOMPARE(f->model->phase(), u"connected"_s);
    }

    // Cancelled, failed or without a copy: the selection stays, no copy is left, nothing is imported.
    void unsuccessfulImport()
    {
        const std::tuple<Outcome, bool, QLatin1StringView> rows[]
            = { { Outcome::Cancelled, true, texts::kImportCancelled }, { Outcome::Failed, true, texts::kImportFailed },
                  { Outcome::Succeeded, false, texts::kCopyNotPrepared } };
        for (const auto &[outcome, copyDirectory, error] : rows) {
            init();
            f->runner->outcome = outcome;
            f->import().connect(); // nothing selected: nothing happens
            f->import().loadFile(f->enrollment("profile.json"));
            if (!copyDirectory)
                QDir(f->copyDirectory).removeRecursively();
            f->import().connect();
            QTRY_VERIFY(!f->import().busy());
            QCOMPARE(f->import().errorText(), QString(error));
            QVERIFY(f->import().hasSelection() && f->copies().isEmpty() && f->refreshes == 0);
            QCOMPARE(f->runner->runs, copyDirectory ? 1 : 0);
        }
    }

    // While the helper runs, neither another load nor another import gets in.
    void nothingOverlapsAnImport()
    {
        QSemaphore entered, release;
        f->runner->inspect = [&](const QString &, const QStringList &) { entered.release(), release.acquire(); };
        f->import().loadFile(f->enrollment("first.json"));
        f->import().connect();
        entered.acquire();
        f->import().loadFile(f->enrollment("other.json", { { u"device_name"_s, u"other"_s } }));
        f->import().connect();
        QVERIFY(f->import().selectedDeviceName() == u"mac-01"_s && !f->import().hasError());
        release.release();
        QTRY_VERIFY(!f->import().busy());
        QCOMPARE(f->runner->runs, 1);
    }

    void requestsAreSpacedByAMinute()
    {
        // Previewing another status file reports nothing.
        QSignalSpy messages(f->model.get(), &agent::AgentModel::locationMessageChanged);
        f->environment.values["PELK_AGENT_PREVIEW_STATUS"] = QString();
        reporter().update(true);
        QVERIFY(messages.isEmpty() && !QFile::exists(f->path("location.json")));
        f->environment.values.clear();
        for (const qint64 step : { 0, 3, 56 })
            f->clock.advance(step), reporter().update(true);
        QCOMPARE(f->service->locationRequests, 1);
        f->clock.advance(1); // 60 s after the first
        reporter().update(true);
        reporter().foregrounded(); // does not wait
        QCOMPARE(f->service->locationRequests, 3);
        // Unenrolled and enrolled again: the spacing still counts from the last request.
        reporter().update(false);
        f->clock.advance(10);
        reporter().update(true);
        QCOMPARE(f->service->locationRequests, 3);
    }

    // A fix is reported for 300 s (one stamped ahead counts as fresh); an invalid one is not kept.
    void fixLifetime()
    {
        const struct {
            qint64 ageMs;
            double accuracy;
            bool available;
        } rows[] = { { 0, 65, true }, { 300000, 65, true }, { 300001, 65, false }, { -60000, 65, true },
            { 0, -1, false }, { 0, std::numeric_limits<double>::quiet_NaN(), false } };
        for (const auto &[ageMs, accuracy, available] : rows) {
            init();
            reporter().update(true);
            deliver(accuracy);
            f->service->deliver({});
            f->clock.advanceMs(ageMs);
            reporter().foregrounded();
            QJsonObject expected { { u"status"_s, u"unavailable"_s } };
            if (available)
                expected = { { u"status"_s, u"available"_s }, { u"latitude"_s, 48.8566 }, { u"longitude"_s, 2.3522 },
                    { u"accuracy_m"_s, 65.0 }, { u"recorded_at"_s, u"2026-05-01T09:30:00Z"_s } };
            expected.insert(u"updated_at"_s, f->clock.now().toString(Qt::ISODate));
            QCOMPARE(locationFile(), expected);
        }
    }

    void unenrollRemovesTheFileAndSilences()
    {
        QSignalSpy messages(f->model.get(), &agent::AgentModel::locationMessageChanged);
        reporter().update(true);
        deliver();
        const qsizetype published = messages.size();
        reporter().update(false);
        QVERIFY(!QFile::exists(f->path("location.json")) && f->service->stops == 1);
        deliver();
        f->service->fail(Failure::Denied);
        reporter().foregrounded();
        QVERIFY(messages.size() == published && !QFile::exists(f->path("location.json")));
        f->clock.advance(60);
        reporter().update(true);
        QCOMPARE(written(), u"unavailable"_s); // the forgotten fix is not reported
    }

    // What a denial, another failure or location services turned off write; a denial drops the fix,
    // anything else keeps it while it is fresh.
    void failures()
    {
        enum How { AccessDenied, FailureDenied, OtherFailure, ServicesOff };
        for (const auto &[how, status] : { std::pair(AccessDenied, "denied"), std::pair(FailureDenied, "denied"),
                 std::pair(OtherFailure, "available"), std::pair(ServicesOff, "services_disabled") }) {
            init();
            reporter().update(true);
            deliver();
            f->service->enabled = how != ServicesOff;
            if (how == AccessDenied)
                f->service->answer(Authorization::Denied);
            else if (how == ServicesOff)
                reporter().foregrounded();
            else
                f->service->fail(how == FailureDenied ? Failure::Denied : Failure::Other);
            QCOMPARE(written(), QString::fromLatin1(status));
            QCOMPARE(
                locationFile().size(), how == OtherFailure ? 6 : 2); // the position is kept only after another failure
            f->service->enabled = true;
            f->service->answer(Authorization::Authorized);
            QCOMPARE(written(), how >= OtherFailure ? u"available"_s : u"unavailable"_s);
            f->clock.advance(301);
            f->service->fail(Failure::Other);
            QCOMPARE(written(), u"unavailable"_s);
        }
    }

    void permissionIsAskedOnceAndOnlyWhenActive()
    {
        f->service->access = Authorization::NotDetermined;
        f->applicationActive = false;
        reporter().update(true);
        QVERIFY(written() == u"not_determined"_s && f->service->authorizationRequests == 0);
        f->applicationActive = true;
        reporter().foregrounded();
        reporter().foregrounded();
        QCOMPARE(f->service->authorizationRequests, 1);
        reporter().enableOrOpenSettings(); // asks again while the question is open
        QVERIFY(f->service->authorizationRequests == 2 && f->service->settingsOpened == 0);
        f->service->answer(Authorization::Denied); // answered: the button opens the settings
        reporter().enableOrOpenSettings();
        QCOMPARE(f->service->settingsOpened, 1);
    }

    void fileIsPrivateWhateverTheUmask()
    {
        const mode_t previous = ::umask(0);
        reporter().update(true);
        ::umask(previous);
        QCOMPARE(QFile::permissions(f->path("location.json")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QDir(f->dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({ u"location.json"_s }));
        // Without the agent's directory nothing is created.
        location::LocationReporter elsewhere(new fakes::FakeLocationService, f->clock, f->environment, {},
            f->dir.filePath(u"no-such-uid/location.json"_s));
        elsewhere.update(true);
        QVERIFY(!QFile::exists(f->dir.filePath(u"no-such-uid"_s)));
    }
};

QTEST_GUILESS_MAIN(TestAgentModel)
#include "test_agent_model.moc"
