#include "agent/AgentModelFixture.h"

#include <QTest>

#include <limits>
#include <sys/stat.h>

using namespace pelk;
using namespace Qt::StringLiterals;
using Authorization = platform::LocationService::Authorization;
using Failure = platform::LocationService::Failure;

// What the reporter the agent model owns writes to location.json and shows, as the service answers.
class TestLocationReporter : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;
    QStringList m_messages;

    location::LocationReporter &reporter() const { return *f->model->location(); }
    QJsonObject file() const
    {
        QFile file(f->path("location.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    QString written() const { return file().value(u"status"_s).toString(); }
    void deliver(double accuracy = 65) { f->service->deliver({ { 48.8566, 2.3522, accuracy, f->clock.now() } }); }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<testing::AgentModelFixture>();
        m_messages.clear();
        reporter().setOnStatus([this](const QString &m) { m_messages.append(m); });
    }

    void requestsAreSpacedByAMinute()
    {
        // Previewing another status file reports nothing.
        f->environment.values["PELK_AGENT_PREVIEW_STATUS"] = QString();
        reporter().update(true);
        QVERIFY(m_messages.isEmpty() && !QFile::exists(f->path("location.json")));
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
            QCOMPARE(file(), expected);
        }
    }

    void unenrollRemovesTheFileAndSilences()
    {
        reporter().update(true);
        deliver();
        const qsizetype published = m_messages.size();
        reporter().update(false);
        QVERIFY(!QFile::exists(f->path("location.json")) && f->service->stops == 1);
        deliver();
        f->service->fail(Failure::Denied);
        reporter().foregrounded();
        QVERIFY(m_messages.size() == published && !QFile::exists(f->path("location.json")));
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
            QCOMPARE(file().size(), how == OtherFailure ? 6 : 2); // the position is kept only after another failure
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

QTEST_GUILESS_MAIN(TestLocationReporter)
#include "test_location_reporter.moc"
