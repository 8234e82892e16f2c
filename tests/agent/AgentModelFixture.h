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
#include <QThread>

#include <memory>

namespace pelk::testing {

// An agent model wired to fakes, its status file, helper and copies in a temporary directory.
struct AgentModelFixture {
    QTemporaryDir dir;
    fakes::FakeClock clock;
    fakes::FakeEnvironment environment;
    std::shared_ptr<fakes::FakePrivilegedRunner> runner = std::make_shared<fakes::FakePrivilegedRunner>();
    fakes::FakeLocationService *service = new fakes::FakeLocationService; // owned by the reporter
    // The enrollment copy goes to a directory whose name the shell would gladly misread.
    QString temporaryDirectory = dir.filePath(QStringLiteral("tmp 'it''s' $(touch CANARY) `x`"));
    std::unique_ptr<agent::AgentModel> model;
    int refreshes = 0;
    QThread *refreshThread = nullptr;

    AgentModelFixture()
    {
        QDir().mkpath(temporaryDirectory);
        auto *reporter = new location::LocationReporter(
            service, clock, environment, [] { return true; }, dir.filePath(QStringLiteral("location.json")));
        model = std::make_unique<agent::AgentModel>(agent::AgentModel::Collaborators { .statusPath = statusPath(),
            .helperPath = helperPath(),
            .temporaryDirectory = temporaryDirectory,
            .clock = &clock,
            .environment = &environment,
            .runner = runner,
            .location = reporter });
        model->setOnRefresh([this] {
            ++refreshes;
            refreshThread = QThread::currentThread();
        });
    }

    QString statusPath() const { return dir.filePath(QStringLiteral("agent-status.json")); }
    QString helperPath() const { return dir.filePath(QStringLiteral("helper")); }

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
        return path;
    }
    QString write(const QString &name, const QJsonObject &object)
    {
        return write(name, QJsonDocument(object).toJson());
    }
    void writeStatus(const QJsonObject &object) { write(QStringLiteral("agent-status.json"), object); }

    QStringList temporaryFiles() const
    {
        return QDir(temporaryDirectory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    static QJsonObject profile()
    {
        return { { QStringLiteral("format"), QStringLiteral("co.pelkcore.agent-enrollment") },
            { QStringLiteral("version"), 1 }, { QStringLiteral("base_url"), QStringLiteral("https://m.example") },
            { QStringLiteral("workspace"), QStringLiteral("Acme") },
            { QStringLiteral("device_name"), QStringLiteral("mac-01") }, { QStringLiteral("device_id"), 42 },
            { QStringLiteral("platform"), QStringLiteral("macos") },
            { QStringLiteral("role"), QStringLiteral("helper") },
            { QStringLiteral("enrollment_token"), QString(32, u't') },
            { QStringLiteral("expires_at"), QStringLiteral("2030-01-01T00:00:00Z") } };
    }
};

} // namespace pelk::testing
