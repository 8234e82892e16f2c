#pragma once

#include "app/AgentDelegate.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeDesktopLockdown.h"
#include "fakes/FakeEnvironment.h"
#include "fakes/FakeLocationService.h"
#include "fakes/FakePrivilegedRunner.h"
#include "location/LocationReporter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace pelk::fakes {

// The status-bar application's parts over files in dir: the status file, the lock state file,
// the helper path (absent) and the temporary directory; a still clock, a fake location service
// and a privileged runner that answers at once.
struct FakeAgentParts {
    QString dir;

    QString statusPath() const { return dir + u"/agent-status.json"; }
    QString lockPath() const { return dir + u"/agent-lock.json"; }

    app::AgentParts make()
    {
        app::AgentParts parts;
        parts.clock = std::make_unique<FakeClock>(QDateTime::currentDateTimeUtc());
        parts.environment = std::make_unique<FakeEnvironment>();
        parts.managedLock = std::make_unique<app::LockRuntime>(std::make_unique<FakeDesktopLockdown>(), lockPath());
        auto *location = new location::LocationReporter(
            new FakeLocationService, *parts.clock, *parts.environment, [] { return true; }, dir + u"/location.json");
        parts.model = std::make_unique<agent::AgentModel>(agent::AgentModel::Collaborators { .statusPath = statusPath(),
            .helperPath = dir + u"/no-helper",
            .temporaryDirectory = dir,
            .clock = parts.clock.get(),
            .environment = parts.environment.get(),
            .runner = std::make_shared<FakePrivilegedRunner>(),
            .location = location });
        return parts;
    }

    void writeStatus(const QJsonObject &status) const { write(statusPath(), QJsonDocument(status).toJson()); }
    void writeLocked(bool locked) const
    {
        write(lockPath(),
            QJsonDocument(QJsonObject { { QStringLiteral("locked"), locked },
                              { QStringLiteral("command_uuid"), QStringLiteral("cmd-1") } })
                .toJson());
    }
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }
};

} // namespace pelk::fakes
