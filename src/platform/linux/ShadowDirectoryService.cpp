#include "platform/linux/ShadowDirectoryService.h"

#include "platform/Wipe.h"
#include "platform/linux/HomeDirectory.h"
#include "platform/linux/PasswordHash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

constexpr auto kPasswd = "etc/passwd"_L1;
constexpr auto kShadow = "etc/shadow"_L1;
constexpr auto kGroup = "etc/group"_L1;
constexpr auto kGshadow = "etc/gshadow"_L1;

constexpr auto kUseradd = "/usr/sbin/useradd"_L1;
constexpr auto kUsermod = "/usr/sbin/usermod"_L1;
constexpr auto kChpasswd = "/usr/sbin/chpasswd"_L1;

// Account databases are small text files; anything larger is not one we will parse.
constexpr qint64 kMaxDatabaseBytes = 64 * 1024 * 1024;

// passwd field positions.
constexpr int kUidField = 2;
constexpr int kGidField = 3;
constexpr int kHomeField = 5;

// Names handed to line-based tools: nothing that could end a line or a field.
bool isPlainAccountName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(u'-'))
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-'
            || u == '_' || u == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<quint64> decimal(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    bool ok = false;
    const quint64 value = text.toULongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace

ShadowDirectoryService::ShadowDirectoryService(QString root, ToolRunner runner)
    : m_root(QDir::cleanPath(root)), m_runner(runner)
{
}

// ---------------------------------------------------------------------------------------------
// Translation into Linux conventions, the one place that knows both sides:
//
//   record                         Linux account
//   home "/Users/<name>"           home "/home/<name>"
//   primary group "20"             "users", the group every ordinary user shares
//   shell "/bin/zsh"               "/bin/zsh" if the tree has it, else "/bin/bash", else "/bin/sh"
//   full name                      the GECOS field
//   unique ID                      the numeric uid as given
//   GUID                           not kept: passwd has no field for it
//   group "admin"                  "sudo" (Debian family) or else "wheel" (Fedora family),
//                                  whichever the tree's group file has
//   home directory (made last)     mode 0700 with a copy of the tree's own etc/skel, owned by the
//                                  account; never an existing directory
//   password                       a crypt(3) hash in the library's default method, in shadow
// ---------------------------------------------------------------------------------------------

ShadowDirectoryService::LinuxAccount ShadowDirectoryService::linuxAccount(const NewUserRecord &record) const
{
    LinuxAccount account;
    account.name = record.recordName;
    account.uid = record.uniqueId;
    account.primaryGroup = record.primaryGroupId == "20"_L1 ? u"users"_s : record.primaryGroupId;
    account.home = record.homeDirectory;
    if (account.home.startsWith("/Users/"_L1))
        account.home = "/home/"_L1 + account.home.mid(7);
    for (const QString &shell : { record.userShell, u"/bin/bash"_s, u"/bin/sh"_s }) {
        if (existsInTree(shell)) {
            account.shell = shell;
            break;
        }
    }
    account.gecos = record.fullName;
    return account;
}

QString ShadowDirectoryService::linuxGroup(const QString &groupName) const
{
    if (groupName != "admin"_L1)
        return groupName;
    for (const QString &candidate : { u"sudo"_s, u"wheel"_s }) {
        if (entry(kGroup, candidate))
            return candidate;
    }
    return {};
}

bool ShadowDirectoryService::existsInTree(const QString &absolutePath) const
{
    const QFileInfo info(m_root == "/"_L1 ? absolutePath : m_root + absolutePath);
    return info.isFile() && info.isExecutable();
}

// ---------------------------------------------------------------------------------------------

QString ShadowDirectoryService::filePath(QLatin1StringView relative) const
{
    if (m_root == "/"_L1)
        return u'/' + relative;
    return m_root + u'/' + relative;
}

QStringList ShadowDirectoryService::treeArguments(QLatin1StringView option) const
{
    if (m_root == "/"_L1)
        return {};
    return { QString(option), m_root };
}

std::optional<ShadowDirectoryService::Entries> ShadowDirectoryService::entries(QLatin1StringView file) const
{
    QFile f(filePath(file));
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxDatabaseBytes)
        return std::nullopt;
    const QByteArray text = f.read(kMaxDatabaseBytes + 1);
    if (text.size() > kMaxDatabaseBytes || f.error() != QFileDevice::NoError)
        return std::nullopt;
    Entries result;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty())
            result.append(line.split(':'));
    }
    return result;
}

std::optional<QList<QByteArray>> ShadowDirectoryService::entry(QLatin1StringView file, const QString &name) const
{
    const std::optional<Entries> all = entries(file);
    if (!all)
        return std::nullopt;
    const QByteArray key = name.toUtf8();
    for (const QList<QByteArray> &fields : *all) {
        if (fields.first() == key)
            return fields;
    }
    return std::nullopt;
}

bool ShadowDirectoryService::syncFiles(std::initializer_list<QLatin1StringView> files) const
{
    for (const QLatin1StringView file : files) {
        const int fd = ::open(QFile::encodeName(filePath(file)).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        if (!synced)
            return false;
    }
    // The tools replace the files by renaming; the directory entry must reach the disk too.
    const int dir = ::open(QFile::encodeName(filePath("etc"_L1)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    const bool synced = ::fsync(dir) == 0;
    ::close(dir);
    return synced;
}

bool ShadowDirectoryService::openLocalNode()
{
    for (const QLatin1StringView file : { kPasswd, kShadow, kGroup }) {
        if (!QFileInfo(filePath(file)).isFile())
            return false;
    }
    return true;
}

RecordLookup ShadowDirectoryService::findUserByName(const QString &recordName)
{
    const std::optional<Entries> all = entries(kPasswd);
    if (!all)
        return RecordLookup::Failed;
    const QByteArray key = recordName.toUtf8();
    for (const QList<QByteArray> &fields : *all) {
        if (fields.first() == key)
            return RecordLookup::Found;
    }
    return RecordLookup::NotFound;
}

RecordLookup ShadowDirectoryService::findUserByUniqueId(qint64 uniqueId)
{
    const std::optional<Entries> all = entries(kPasswd);
    if (!all)
        return RecordLookup::Failed;
    for (const QList<QByteArray> &fields : *all) {
        if (fields.size() > kUidField && decimal(fields[kUidField]) == quint64(uniqueId))
            return RecordLookup::Found;
    }
    return RecordLookup::NotFound;
}

bool ShadowDirectoryService::canStorePassword(const QString &password)
{
    QByteArray plain = password.toUtf8();
    const bool storable = passwordhash::hashable(plain);
    wipe(plain);
    return storable;
}

bool ShadowDirectoryService::createUser(const NewUserRecord &record)
{
    const LinuxAccount account = linuxAccount(record);
    if (!isPlainAccountName(account.name) || account.shell.isEmpty())
        return false;
    // The home directory is made later, by its own step, from the tree's own skeleton.
    // useradd clears the uid's lastlog and faillog records at fixed paths that --prefix does not
    // move: in another tree they belong to this machine, so they are left alone there.
    QStringList arguments = treeArguments("--prefix"_L1);
    if (!arguments.isEmpty())
        arguments.append(u"--no-log-init"_s);
    arguments += QStringList { u"--uid"_s, account.uid, u"--gid"_s, account.primaryGroup, u"--no-user-group"_s,
        u"--no-create-home"_s, u"--home-dir"_s, account.home, u"--shell"_s, account.shell, u"--comment"_s,
        account.gecos, account.name };
    return m_runner.run(kUseradd, arguments) == 0;
}

bool ShadowDirectoryService::setPassword(const QString &recordName, const QString &password)
{
    if (!isPlainAccountName(recordName))
        return false;
    QByteArray plain = password.toUtf8();
    const std::optional<QByteArray> hash = passwordhash::hash(plain);
    wipe(plain);
    if (!hash)
        return false;
    // Only the hash travels, and it cannot hold ':' or a newline, so this line is exactly one record.
    const QByteArray line = recordName.toUtf8() + ':' + *hash + '\n';
    return m_runner.run(kChpasswd, treeArguments("--root"_L1) + QStringList { u"--encrypted"_s }, line) == 0;
}

bool ShadowDirectoryService::findGroup(const QString &groupName)
{
    const QString group = linuxGroup(groupName);
    return !group.isEmpty() && entry(kGroup, group).has_value();
}

bool ShadowDirectoryService::addMember(const QString &groupName, const QString &recordName)
{
    const QString group = linuxGroup(groupName);
    if (group.isEmpty() || !isPlainAccountName(recordName))
        return false;
    const QStringList arguments
        = treeArguments("--prefix"_L1) + QStringList { u"--append"_s, u"--groups"_s, group, recordName };
    return m_runner.run(kUsermod, arguments) == 0;
}

bool ShadowDirectoryService::commitUser(const QString &recordName)
{
    return findUserByName(recordName) == RecordLookup::Found && syncFiles({ kPasswd, kShadow });
}

bool ShadowDirectoryService::commitGroup(const QString &groupName)
{
    if (!findGroup(groupName))
        return false;
    if (QFileInfo::exists(filePath(kGshadow)))
        return syncFiles({ kGroup, kGshadow });
    return syncFiles({ kGroup });
}

bool ShadowDirectoryService::verifyPassword(const QString &recordName, const QString &password)
{
    const std::optional<QList<QByteArray>> fields = entry(kShadow, recordName);
    if (!fields || fields->size() < 2)
        return false;
    QByteArray plain = password.toUtf8();
    const bool matches = passwordhash::matches(plain, fields->at(1));
    wipe(plain);
    return matches;
}

bool ShadowDirectoryService::isMember(const QString &groupName, const QString &recordName)
{
    const QString group = linuxGroup(groupName);
    const std::optional<QList<QByteArray>> fields = group.isEmpty() ? std::nullopt : entry(kGroup, group);
    return fields && fields->size() >= 4 && fields->at(3).split(',').contains(recordName.toUtf8());
}

bool ShadowDirectoryService::createHomeDirectory(const QString &recordName)
{
    const std::optional<QList<QByteArray>> fields = entry(kPasswd, recordName);
    if (!fields || fields->size() <= kHomeField)
        return false;
    const std::optional<quint64> uid = decimal(fields->at(kUidField));
    const std::optional<quint64> gid = decimal(fields->at(kGidField));
    if (!uid || !gid || *uid > UINT32_MAX - 1 || *gid > UINT32_MAX - 1)
        return false;
    return pelk::platform::createHomeDirectory(
        m_root, QFile::decodeName(fields->at(kHomeField)), uid_t(*uid), gid_t(*gid));
}

} // namespace pelk::platform
