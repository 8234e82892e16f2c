#pragma once

#include "platform/DirectoryService.h"
#include "platform/linux/ToolRunner.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace pelk::platform {

// The local accounts of a Linux system: etc/passwd, shadow, group and gshadow under a root
// directory ("/" in production, a throwaway tree in tests). Changes go through shadow-utils
// (useradd, usermod, chpasswd); searches and verification read the files directly, so that a
// tree other than "/" is honoured throughout.
class ShadowDirectoryService final : public DirectoryService {
public:
    explicit ShadowDirectoryService(QString root = QStringLiteral("/"), ToolRunner runner = ToolRunner());

    bool openLocalNode() override;
    RecordLookup findUserByName(const QString &recordName) override;
    RecordLookup findUserByUniqueId(qint64 uniqueId) override;
    bool canStorePassword(const QString &password) override;
    bool createUser(const NewUserRecord &record) override;
    bool setPassword(const QString &recordName, const QString &password) override;
    bool findGroup(const QString &groupName) override;
    bool addMember(const QString &groupName, const QString &recordName) override;
    bool commitUser(const QString &recordName) override;
    bool commitGroup(const QString &groupName) override;
    bool verifyPassword(const QString &recordName, const QString &password) override;
    bool isMember(const QString &groupName, const QString &recordName) override;
    bool createHomeDirectory(const QString &recordName) override;

private:
    using Entries = QList<QList<QByteArray>>;

    QString filePath(QLatin1StringView relative) const;
    std::optional<Entries> entries(QLatin1StringView file) const;
    std::optional<QList<QByteArray>> entry(QLatin1StringView file, const QString &name) const;
    // shadow-utils' own way of pointing a tool at our tree ("--prefix" or "--root"), or nothing for "/".
    QStringList treeArguments(QLatin1StringView option) const;
    bool syncFiles(std::initializer_list<QLatin1StringView> files) const;

    // Translation of directory records into Linux conventions.
    struct LinuxAccount {
        QString name;
        QString uid;
        QString primaryGroup;
        QString home;
        QString shell;
        QString gecos;
    };
    LinuxAccount linuxAccount(const NewUserRecord &record) const;
    QString linuxGroup(const QString &groupName) const;
    bool existsInTree(const QString &absolutePath) const;

    QString m_root;
    ToolRunner m_runner;
};

} // namespace pelk::platform
