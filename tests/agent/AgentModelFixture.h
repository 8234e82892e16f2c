#pragma once

#include "agent/AgentModel.h"
#include "fakes/FakeClock.h"
#include "location/LocationReporter.h"
#include "platform/Environment.h"
#include "platform/LocationService.h"
#include "platform/PrivilegedRunner.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace pelk::fakes {

// An environment the test writes.
class FakeEnvironment final : public platform::Environment {
public:
    QHash<QByteArray, QString> values;

    std::optional<QString> value(const char *name) const override
    {
        const auto it = values.constFind(name);
        return it == values.constEnd() ? std::nullopt : std::optional(*it);
    }
};

// A location service whose state the test sets and whose answers the test delivers.
class FakeLocationService final : public platform::LocationService {
public:
    bool enabled = true;
    Authorization access = Authorization::Authorized;
    int authorizationRequests = 0;
    int locationRequests = 0;
    int stops = 0;
    int settingsOpened = 0;

    bool servicesEnabled() override { return enabled; }
    Authorization authorization() override { return access; }
    void requestAuthorization() override { ++authorizationRequests; }
    void requestLocation() override { ++locationRequests; }
    void stopUpdatingLocation() override { ++stops; }
    void openLocationSettings() override { ++settingsOpened; }

    void answer(Authorization newAccess) { access = newAccess, Q_EMIT authorizationChanged(); }
    void deliver(const QList<platform::LocationFix> &fixes) { Q_EMIT locationsUpdated(fixes); }
    void fail(Failure failure) { Q_EMIT failed(failure); }
};

// Answers every run with a set outcome, after letting the test look at the program and its
// arguments (and at the files they name) on the run's own thread. Tests read the record only after the run's
// completion has reached the main thread, so no lock is needed.
class FakePrivilegedRunner final : public platform::PrivilegedRunner {
public:
    Outcome outcome = Outcome::Succeeded;
    std::function<void(const QString &, const QStringList &)> inspect;
    int runs = 0;

    Outcome run(const QString &program, const QStringList &arguments) override
    {
        ++runs;
        if (inspect)
            inspect(program, arguments);
        return outcome;
    }
};

} // namespace pelk::fakes

namespace pelk::testing {

// An agent model over fakes, with its status file, helper (absent), location file and enrollment
// copies in a temporary directory and a clock standing at 2026-05-01T09:30:00Z.
struct AgentModelFixture {
    QTemporaryDir dir;
    fakes::FakeClock clock;
    fakes::FakeEnvironment environment;
    std::shared_ptr<fakes::FakePrivilegedRunner> runner = std::make_shared<fakes::FakePrivilegedRunner>();
    fakes::FakeLocationService *service = new fakes::FakeLocationService; // owned by the reporter
    // The enrollment copy goes to a directory whose name the shell would gladly misread.
    QString copyDirectory = dir.filePath(QStringLiteral("tmp 'it''s' $(touch CANARY) `x`"));
    std::unique_ptr<agent::AgentModel> model;
    agent::AgentModel *live = nullptr; // the model, also once the application owns it
    bool applicationActive = true;
    int refreshes = 0;

    AgentModelFixture()
    {
        QDir().mkpath(copyDirectory);
        model = std::make_unique<agent::AgentModel>(agent::AgentModel::Collaborators { .statusPath = statusPath(),
            .helperPath = path("helper"),
            .temporaryDirectory = copyDirectory,
            .clock = &clock,
            .environment = &environment,
            .runner = runner,
            .location = new location::LocationReporter(
                service, clock, environment, [this] { return applicationActive; }, path("location.json")) });
        model->setOnRefresh([this] { ++refreshes; });
        live = model.get();
    }

    agent::EnrollmentImporter &import() const { return *live->enrollment(); }
    QString path(const char *name) const { return dir.filePath(QLatin1StringView(name)); }
    QString statusPath() const { return path("agent-status.json"); }
    QString write(const QString &file, const QByteArray &bytes) const
    {
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
        return file;
    }
    QByteArray read(const QString &file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Writes the status file with these members after {"message":"m", and polls it.
    void status(const QByteArray &members)
    {
        write(statusPath(), R"({"message":"m",)" + members + '}');
        live->refresh();
    }
    QStringList copies() const { return QDir(copyDirectory).entryList(QDir::Files | QDir::Hidden); }

    // A valid enrollment file with some members replaced (null counts as missing).
    QString enrollment(const char *name, const QJsonObject &changes = {}) const
    {
        QJsonObject o = QJsonDocument::fromJson(
            R"({"format":"co.pelkcore.agent-enrollment","version":1,"base_url":"https://m.example",)"
            R"("workspace":"Acme","device_name":"mac-01","device_id":42,"platform":"macos","role":"helper",)"
            R"("enrollment_token":"tttttttttttttttttttttttttttttttt","expires_at":"2030-01-01T00:00:00Z"})")
                            .object();
        for (auto it = changes.begin(); it != changes.end(); ++it)
            o.insert(it.key(), it.value());
        return write(path(name), QJsonDocument(o).toJson());
    }
};

} // namespace pelk::testing
