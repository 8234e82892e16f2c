#pragma once

#include "platform/DirectoryService.h"

#include <QSet>
#include <QStringList>

namespace pelk::fakes {

// A local directory that grants every operation but the one named in failing, and keeps the
// operations asked for, with their arguments. kSteps names them all, in the order account
// creation takes them. A password checks when it is the one set; users and uids are taken already.
class FakeDirectoryService final : public platform::DirectoryService {
public:
    using Lookup = platform::RecordLookup;
    static inline const QStringList kSteps
        = QStringLiteral("openLocalNode findUserByName findUserByUniqueId canStorePassword createUser setPassword "
                         "findGroup addMember commitUser commitGroup verifyPassword isMember createHomeDirectory")
              .split(u' ');

    QString failing;
    QSet<QString> users;
    QSet<qint64> uids;
    QList<QStringList> asked;

    bool openLocalNode() override { return ok(__func__); }
    Lookup findUserByName(const QString &name) override { return find(__func__, users.contains(name)); }
    Lookup findUserByUniqueId(qint64 uid) override { return find(__func__, uids.contains(uid)); }
    bool canStorePassword(const QString &password) override { return ok(__func__, { password }); }
    bool createUser(const platform::NewUserRecord &record) override { return ok(__func__, { record.recordName }); }
    bool setPassword(const QString &name, const QString &password) override { return ok(__func__, { name, password }); }
    bool findGroup(const QString &group) override { return ok(__func__, { group }); }
    bool addMember(const QString &group, const QString &name) override { return ok(__func__, { group, name }); }
    bool commitUser(const QString &name) override { return ok(__func__, { name }); }
    bool commitGroup(const QString &group) override { return ok(__func__, { group }); }
    bool verifyPassword(const QString &name, const QString &password) override
    {
        return ok(__func__) && asked.contains({ QStringLiteral("setPassword"), name, password });
    }
    bool isMember(const QString &group, const QString &name) override
    {
        return ok(__func__) && asked.contains({ QStringLiteral("addMember"), group, name });
    }
    bool createHomeDirectory(const QString &name) override { return ok(__func__, { name }); }

private:
    bool ok(const char *step, const QStringList &arguments = {})
    {
        asked.append(QStringList { QString::fromLatin1(step) } + arguments);
        return failing != QLatin1StringView(step);
    }
    Lookup find(const char *step, bool found)
    {
        return !ok(step) ? Lookup::Failed : found ? Lookup::Found : Lookup::NotFound;
    }
};

} // namespace pelk::fakes
