#pragma once

#include "agent/AgentModel.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeEnvironment.h"
#include "fakes/FakeLocationService.h"
#include "fakes/FakePrivilegedRunner.h"
#include "location/LocationReporter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>

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
    }

    agent::EnrollmentImporter &import() const { return *model->enrollment(); }
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
        model->refresh();
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
