#include "recovery/RecoveryAdminCreator.h"

#include "platform/Wipe.h"

#include <QUuid>

namespace pelk::recovery {

using namespace Qt::StringLiterals;
using platform::RecordLookup;

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

} // namespace

RecoveryAdminCreator::RecoveryAdminCreator(
    InputReader readInput, EffectiveUid effectiveUid, platform::DirectoryService &directory)
    : m_readInput(std::move(readInput)), m_effectiveUid(std::move(effectiveUid)), m_directory(directory)
{
}

platform::NewUserRecord RecoveryAdminCreator::accountRecord(const RecoveryRequest &request, const QString &guid)
{
    return platform::NewUserRecord {
        .recordName = request.username,
        .uniqueId = QString::number(request.uid),
        .primaryGroupId = u"20"_s,
        .homeDirectory = "/Users/"_L1 + request.username,
        .userShell = u"/bin/zsh"_s,
        .fullName = u"Pelk Recovery Administrator"_s,
        .guid = guid,
    };
}

int RecoveryAdminCreator::run()
{
    // Only root may create accounts; anyone else is refused before the request is even read.
    if (m_effectiveUid() != 0)
        return kFailure;

    std::optional<QByteArray> input = m_readInput(RecoveryRequest::kRefusedInputBytes);
    if (!input || input->size() >= RecoveryRequest::kRefusedInputBytes) {
        if (input)
            platform::wipe(*input);
        return kFailure;
    }
    std::optional<RecoveryRequest> request = RecoveryRequest::decode(*input);
    platform::wipe(*input);
    if (!request)
        return kFailure;

    const bool created = request->withinLimits() && createAccount(*request);
    // Best effort: the request text and the password leave no copy of ours behind.
    platform::wipe(request->password);
    return created ? kSuccess : kFailure;
}

bool RecoveryAdminCreator::createAccount(const RecoveryRequest &request)
{
    const QString &name = request.username;
    const QString group = kAdministratorsGroup;

    // Nothing is changed until the name and the uid are known to be free and the password storable.
    if (!m_directory.openLocalNode())
        return false;
    if (m_directory.findUserByName(name) != RecordLookup::NotFound)
        return false;
    if (m_directory.findUserByUniqueId(request.uid) != RecordLookup::NotFound)
        return false;
    if (!m_directory.canStorePassword(request.password))
        return false;

    // From here on the directory changes, and a later failure leaves what was done in place.
    const QString guid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (!m_directory.createUser(accountRecord(request, guid)))
        return false;
    if (!m_directory.setPassword(name, request.password))
        return false;
    if (!m_directory.findGroup(group))
        return false;
    if (!m_directory.addMember(group, name))
        return false;
    if (!m_directory.commitUser(name) || !m_directory.commitGroup(group))
        return false;
    if (!m_directory.verifyPassword(name, request.password))
        return false;
    if (!m_directory.isMember(group, name))
        return false;
    return m_directory.createHomeDirectory(name);
}

} // namespace pelk::recovery
