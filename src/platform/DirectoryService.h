#pragma once

#include <QString>

namespace pelk::platform {

// A new local user account as the local directory keeps it: each attribute one text value.
struct NewUserRecord {
    QString recordName;
    QString uniqueId; // decimal
    QString primaryGroupId; // decimal
    QString homeDirectory;
    QString userShell;
    QString fullName;
    QString guid; // 36 characters, upper case
};

// Outcome of a search in the local directory; Failed means the search itself could not be made or read.
enum class RecordLookup { Found, NotFound, Failed };

// The machine's local account directory, offering exactly what recovery account creation needs.
// Every operation reports failure through its result and never throws; changes take effect at once
// and are never rolled back by the directory itself.
class DirectoryService {
public:
    virtual ~DirectoryService() = default;

    virtual bool openLocalNode() = 0;
    virtual RecordLookup findUserByName(const QString &recordName) = 0;
    virtual RecordLookup findUserByUniqueId(qint64 uniqueId) = 0;
    // Whether a password this long and made of these characters can be stored and later checked;
    // asked before any change, so that a password the directory cannot keep leaves no account behind.
    virtual bool canStorePassword(const QString &password) = 0;
    virtual bool createUser(const NewUserRecord &record) = 0;
    // The password is a secret: implementations keep it out of arguments, logs and line-based input.
    virtual bool setPassword(const QString &recordName, const QString &password) = 0;
    virtual bool findGroup(const QString &groupName) = 0;
    virtual bool addMember(const QString &groupName, const QString &recordName) = 0;
    virtual bool commitUser(const QString &recordName) = 0;
    virtual bool commitGroup(const QString &groupName) = 0;
    virtual bool verifyPassword(const QString &recordName, const QString &password) = 0;
    virtual bool isMember(const QString &groupName, const QString &recordName) = 0;
    virtual bool createHomeDirectory(const QString &recordName) = 0;
};

} // namespace pelk::platform
