#pragma once

#include "agent/Profile.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace pelk::agent {

// What an enrollment file must be before the import will hand it to the device helper.
inline constexpr qint64 kMaxEnrollmentBytes = 65536;
inline constexpr QLatin1StringView kEnrollmentFormat { "co.pelkcore.agent-enrollment" };
inline constexpr qint64 kEnrollmentVersion = 1;
inline constexpr QLatin1StringView kEnrollmentRole { "helper" };
inline constexpr QLatin1StringView kEnrollmentPlatform { "macos" };
inline constexpr qsizetype kMinTokenCharacters = 32;

// Why a chosen file was refused, in the words the setup window shows.
enum class SetupError { Invalid, Expired };
QString description(SetupError error);

// In English; shown through translated().
namespace texts {
inline constexpr QLatin1StringView kUnreadableFile { QT_TRANSLATE_NOOP(
    "pelk::agent::EnrollmentImport", "Choose an enrollment JSON downloaded from Pelk.") };
inline constexpr QLatin1StringView kCopyNotPrepared { QT_TRANSLATE_NOOP(
    "pelk::agent::EnrollmentImport", "The enrollment file could not be prepared.") };
inline constexpr QLatin1StringView kImportCancelled { QT_TRANSLATE_NOOP(
    "pelk::agent::EnrollmentImport", "Setup cancelled. Your current connection was kept.") };
inline constexpr QLatin1StringView kImportFailed { QT_TRANSLATE_NOOP("pelk::agent::EnrollmentImport",
    "The file could not be imported. Check that the latest Pelk Agent is installed and choose a fresh enrollment "
    "file.") };
} // namespace texts

// One of the texts above in the session's language.
QString translated(QLatin1StringView text);

// A file that passed every check: its record and its exact bytes, which are what is handed on.
struct SelectedEnrollment {
    Profile profile;
    QByteArray bytes;
};

// The outcome of checking one file: the selection, or the one sentence explaining the refusal.
struct EnrollmentCheck {
    std::optional<SelectedEnrollment> selection;
    QString error;
};

// Examines, reads and checks the file at path, in order: regular file of at most 64 KiB
// (before reading), strict decoding, the fields, the server address, the token, the expiry
// (strictly later than now). The first failing check decides the message.
EnrollmentCheck checkEnrollmentFile(const QString &path, const QDateTime &now);

// The fields of a decoded enrollment, in order; Invalid for the first that fails.
std::optional<SetupError> checkProfile(const Profile &profile, const QDateTime &now);

// An https address naming a server and nothing else: scheme exactly "https", a host, an
// optional port, no user or password, no query or fragment (not even empty), path "" or "/".
bool isServerAddress(const QString &text);

// SHA-256 of bytes as 64 lower-case hexadecimal digits.
QString sha256Hex(const QByteArray &bytes);

// The device helper's four arguments for a copy of the enrollment at copyPath.
QStringList helperArguments(const QString &copyPath, const QString &digest);

// A fresh name for the private copy: dir/pelk-enrollment-<UPPER-CASE UUID>.json.
QString temporaryCopyPath(const QString &dir);

} // namespace pelk::agent
