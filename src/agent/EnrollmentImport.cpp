#include "agent/EnrollmentImport.h"

#include "agent/Timestamp.h"
#include "boundary/AgentBoundary.h"
#include "boundary/AgentFile.h"
#include "boundary/StrictJson.h"
#include "boundary/UriParts.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QUrl>
#include <QUuid>

namespace pelk::agent {

using namespace Qt::StringLiterals;

QString description(SetupError error)
{
    switch (error) {
    case SetupError::Invalid:
        return QCoreApplication::translate(
            "pelk::agent::EnrollmentImport", "Choose a Linux enrollment JSON downloaded from Pelk.");
    case SetupError::Expired:
        return QCoreApplication::translate(
            "pelk::agent::EnrollmentImport", "This file has expired. Download a new enrollment file from Pelk.");
    }
    return QString();
}

QString translated(QLatin1StringView text)
{
    // The texts are literals: their data ends with the terminating null.
    return QCoreApplication::translate("pelk::agent::EnrollmentImport", text.data());
}

bool isServerAddress(const QString &text)
{
    // QUrl in strict mode stands for the RFC 3986 parse; the split below reads the pieces
    // exactly as written, since QUrl does not tell an empty user or port from an absent one.
    if (!QUrl(text, QUrl::StrictMode).isValid())
        return false;
    const boundary::UriParts parts = boundary::splitUri(text);
    if (parts.scheme != u"https"_s || !parts.authority)
        return false;
    const boundary::AuthorityParts authority = boundary::splitAuthority(*parts.authority);
    if (authority.host.isEmpty() || authority.userInfo || parts.hasQuery || parts.hasFragment)
        return false;
    return parts.path.isEmpty() || parts.path == u"/"_s;
}

std::optional<SetupError> checkProfile(const Profile &p, const QDateTime &now)
{
    if (p.format != kEnrollmentFormat || p.version != kEnrollmentVersion || p.role != kEnrollmentRole
        || p.platform != kEnrollmentPlatform || p.deviceID <= 0 || !isServerAddress(p.baseURL)
        || boundary::graphemeCount(p.enrollmentToken) < kMinTokenCharacters)
        return SetupError::Invalid;
    const std::optional<QDateTime> expiry = timestamp(p.expiresAt);
    if (!expiry || !(*expiry > now))
        return SetupError::Expired;
    return std::nullopt;
}

EnrollmentCheck checkEnrollmentFile(const QString &path, const QDateTime &now)
{
    // Examine before reading: a symbolic link, a directory or a device is not a regular file.
    const std::optional<platform::FileStatus> info = platform::linkStatus(path);
    if (!info)
        return { std::nullopt, translated(texts::kUnreadableFile) };
    if (!info->regular || info->size > kMaxEnrollmentBytes)
        return { std::nullopt, description(SetupError::Invalid) };

    const std::optional<QByteArray> bytes = boundary::readAgentFile(path, kMaxEnrollmentBytes);
    if (!bytes)
        return { std::nullopt, translated(texts::kUnreadableFile) };
    std::optional<Profile> profile = Profile::decode(*bytes);
    if (!profile)
        return { std::nullopt, translated(texts::kUnreadableFile) };
    if (const std::optional<SetupError> error = checkProfile(*profile, now))
        return { std::nullopt, description(*error) };
    return { SelectedEnrollment { std::move(*profile), *bytes }, QString() };
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QStringList helperArguments(const QString &copyPath, const QString &digest)
{
    return { boundary::kHelperImportArgument, copyPath, boundary::kHelperDigestArgument, digest };
}

QString temporaryCopyPath(const QString &dir)
{
    return dir + u"/pelk-enrollment-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u".json";
}

} // namespace pelk::agent
