#pragma once

#include "platform/DirectoryService.h"

#include <QHash>
#include <QSet>
#include <QStringList>

namespace pelk::fakes {

// An in-memory local directory that can be told to fail one operation, named as in kSteps.
class FakeDirectoryService final : public platform::DirectoryService {
public:
    static inline const QStringList kSteps { QStringLiteral("openLocalNode"), QStringLiteral("findUserByName"),
        QStringLiteral("findUserByUniqueId"), QStringLiteral("canStorePassword"), QStringLiteral("createUser"),
        QStringLiteral("setPassword"), QStringLiteral("findGroup"), QStringLiteral("addMember"),
        QStringLiteral("commitUser"), QStringLiteral("commitGroup"), QStringLiteral("verifyPassword"),
        QStringLiteral("isMember"), QStringLiteral("createHomeDirectory") };

    QString failing;
    bool touched = false; // any operation at all was asked for
    QHash<QString, platform::NewUserRecord> users;
    QSet<qint64> uniqueIds;
    QHash<QString, QString> passwords;
    QHash<QString, QStringList> members { { QStringLiteral("admin"), {} } };

    bool openLocalNode() override { return ok("openLocalNode"); }
    platform::RecordLookup findUserByName(const QString &name) override
    {
        return lookup("findUserByName", users.contains(name));
    }
    platform::RecordLookup findUserByUniqueId(qint64 uid) override
    {
        return lookup("findUserByUniqueId", uniqueIds.contains(uid));
    }
    bool canStorePassword(const QString &) override { return ok("canStorePassword"); }
    bool createUser(const platform::NewUserRecord &r) override
    {
        if (!ok("createUser"))
            return false;
        users.insert(r.recordName, r);
        uniqueIds.insert(r.uniqueId.toLongLong());
        return true;
    }
    bool setPassword(const QString &name, const QString &password) override
    {
        return ok("setPassword") && users.contains(name) && (passwords.insert(name, password), true);
    }
    bool findGroup(const QString &group) override { return ok("findGroup") && members.contains(group); }
    bool addMember(const QString &group, const QString &name) override
    {
        return ok("addMember") && members.contains(group) && (members[group].append(name), true);
    }
    bool commitUser(const QString &name) override { return ok("commitUser") && users.contains(name); }
    bool commitGroup(const QString &group) override { return ok("commitGroup") && members.contains(group); }
    bool verifyPassword(const QString &name, const QString &password) override
    {
        return ok("verifyPassword") && passwords.value(name) == password;
    }
    bool isMember(const QString &group, const QString &name) override
    {
        return ok("isMember") && members.value(group).contains(name);
    }
    bool createHomeDirectory(const QString &name) override { return ok("createHomeDirectory") && users.contains(name); }

private:
    bool ok(const char *step)
    {
        touched = true;
        return failing != QLatin1StringView(step);
    }
    platform::RecordLookup lookup(const char *step, bool found)
    {
        if (!ok(step))
            return platform::RecordLookup::Failed;
        return found ? platform::RecordLookup::Found : platform::RecordLookup::NotFound;
    }
};

} // namespace pelk::fakes
