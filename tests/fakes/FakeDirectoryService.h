#pragma once

#include "platform/DirectoryService.h"

#include <QList>
#include <QSet>
#include <QStringList>

namespace pelk::fakes {

// An in-memory local directory that logs each operation by name and can be told to fail one.
class FakeDirectoryService final : public platform::DirectoryService {
public:
    QStringList calls;
    QString failing; // the operation that fails, by its name in calls
    QSet<QString> userNames;
    QSet<qint64> uniqueIds;
    QSet<QString> groups { QStringLiteral("admin") };
    QList<platform::NewUserRecord> created;
    QHash<QString, QString> passwords;
    QHash<QString, QStringList> members;

    bool openLocalNode() override { return step(QStringLiteral("openLocalNode")); }
    platform::RecordLookup findUserByName(const QString &name) override
    {
        if (!step(QStringLiteral("findUserByName")))
            return platform::RecordLookup::Failed;
        return userNames.contains(name) ? platform::RecordLookup::Found : platform::RecordLookup::NotFound;
    }
    platform::RecordLookup findUserByUniqueId(qint64 uid) override
    {
        if (!step(QStringLiteral("findUserByUniqueId")))
            return platform::RecordLookup::Failed;
        return uniqueIds.contains(uid) ? platform::RecordLookup::Found : platform::RecordLookup::NotFound;
    }
    bool canStorePassword(const QString &) override { return step(QStringLiteral("canStorePassword")); }
    bool createUser(const platform::NewUserRecord &record) override
    {
        if (!step(QStringLiteral("createUser")))
            return false;
        created.append(record);
        userNames.insert(record.recordName);
        uniqueIds.insert(record.uniqueId.toLongLong());
        return true;
    }
    bool setPassword(const QString &name, const QString &password) override
    {
        if (!step(QStringLiteral("setPassword")) || !userNames.contains(name))
            return false;
        passwords.insert(name, password);
        return true;
    }
    bool findGroup(const QString &group) override
    {
        return step(QStringLiteral("findGroup")) && groups.contains(group);
    }
    bool addMember(const QString &group, const QString &name) override
    {
        if (!step(QStringLiteral("addMember")) || !groups.contains(group))
            return false;
        members[group].append(name);
        return true;
    }
    bool commitUser(const QString &name) override
    {
        return step(QStringLiteral("commitUser")) && userNames.contains(name);
    }
    bool commitGroup(const QString &group) override
    {
        return step(QStringLiteral("commitGroup")) && groups.contains(group);
    }
    bool verifyPassword(const QString &name, const QString &password) override
    {
        return step(QStringLiteral("verifyPassword")) && passwords.value(name) == password;
    }
    bool isMember(const QString &group, const QString &name) override
    {
        return step(QStringLiteral("isMember")) && members.value(group).contains(name);
    }
    bool createHomeDirectory(const QString &name) override
    {
        return step(QStringLiteral("createHomeDirectory")) && userNames.contains(name);
    }

private:
    bool step(const QString &name)
    {
        calls.append(name);
        return name != failing;
    }
};

} // namespace pelk::fakes
