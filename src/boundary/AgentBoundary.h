#pragma once

// Everything this application relies on from the background agent, in one place:
// the files it writes, the local API it serves, the device helper it ships and the
// one-shot mode it runs. The agent simulator under tools/ uses the same definitions.

#include <QLatin1StringView>
#include <QString>

namespace pelk::boundary {

// Directory holding every file the agent publishes.
inline constexpr QLatin1StringView kAgentDirectory { "/Library/Application Support/Pelk" };

// State files the agent writes and this application only reads.
inline constexpr QLatin1StringView kStatusFileName { "agent-status.json" }; // every 3 s
inline constexpr QLatin1StringView kLockFileName { "agent-lock.json" }; // every 1 s
inline constexpr QLatin1StringView kDesktopFileName { "agent-desktop.json" }; // every 0.5 s

// Per-user directory the agent provides; this application writes location.json in it.
inline constexpr QLatin1StringView kTelemetryDirectoryName { "agent-telemetry" };
inline constexpr QLatin1StringView kLocationFileName { "location.json" };

// The agent's privileged device helper and its command line:
//   helper --import-enrollment <absolute path> --enrollment-sha256 <64 lower-case hex digits>
// Exit status 0 means the enrollment was taken; the file is read before the helper exits.
inline constexpr QLatin1StringView kHelperPath { "/usr/local/libexec/pelk-device-helper" };
inline constexpr QLatin1StringView kHelperImportArgument { "--import-enrollment" };
inline constexpr QLatin1StringView kHelperDigestArgument { "--enrollment-sha256" };

// Local agent API: POST on 127.0.0.1, JSON bodies, status 200 means success.
inline constexpr QLatin1StringView kApiHost { "127.0.0.1" };
inline constexpr QLatin1StringView kApiScheme { "http" };
inline constexpr QLatin1StringView kContentTypeHeader { "Content-Type" };
inline constexpr QLatin1StringView kJsonContentType { "application/json" };
inline constexpr QLatin1StringView kSessionHeader { "X-Pelk-Session" };
inline constexpr int kApiTimeoutMs = 4000;

// Lock endpoints, always directly under the root of http://127.0.0.1:<port>/.
inline constexpr QLatin1StringView kPresenceEndpoint { "presence" }; // {"command_uuid": ...}
inline constexpr QLatin1StringView kUnlockEndpoint { "unlock" }; // {"pin": ...}

// Support endpoint, appended to the desktop state's url as stored.
// Body: {"action": ..., "session_id": ..., ["jpeg": base64]}; answer: {"status": ..., "events": [...]}.
inline constexpr QLatin1StringView kSupportPath { "/support" };
inline constexpr QLatin1StringView kSupportActionPoll { "poll" };
inline constexpr QLatin1StringView kSupportActionAccept { "accept" };
inline constexpr QLatin1StringView kSupportActionFrame { "frame" };
inline constexpr QLatin1StringView kSupportActionDecline { "decline" };
inline constexpr QLatin1StringView kSupportActionStop { "stop" };
inline constexpr QLatin1StringView kSupportStatusRequested { "requested" };
inline constexpr QLatin1StringView kSupportStatusActive { "active" };

// Members of every JSON document exchanged with the agent, spelled once. A key shared by
// several documents is one constant. Optional members are marked "?".
namespace key {
// The status file: {"phase", "message", "version"?, "workspace"?, "base_url"?, "device_name"?,
//   "device_id"?, "updated_at"?, "last_checkin"?, "next_checkin_seconds"?, "signing_ready"?,
//   "browser_history_enabled"?, "enrolled"?}
inline constexpr QLatin1StringView kPhase { "phase" };
inline constexpr QLatin1StringView kMessage { "message" };
inline constexpr QLatin1StringView kVersion { "version" };
inline constexpr QLatin1StringView kWorkspace { "workspace" };
inline constexpr QLatin1StringView kBaseUrl { "base_url" };
inline constexpr QLatin1StringView kDeviceName { "device_name" };
inline constexpr QLatin1StringView kDeviceId { "device_id" };
inline constexpr QLatin1StringView kUpdatedAt { "updated_at" };
inline constexpr QLatin1StringView kLastCheckin { "last_checkin" };
inline constexpr QLatin1StringView kNextCheckinSeconds { "next_checkin_seconds" };
inline constexpr QLatin1StringView kSigningReady { "signing_ready" };
inline constexpr QLatin1StringView kBrowserHistoryEnabled { "browser_history_enabled" };
inline constexpr QLatin1StringView kEnrolled { "enrolled" };
// The enrollment file handed to the device helper: {"format", "version", "base_url", "workspace",
//   "device_name", "device_id", "platform", "role", "enrollment_token", "expires_at"}
inline constexpr QLatin1StringView kFormat { "format" };
inline constexpr QLatin1StringView kPlatform { "platform" };
inline constexpr QLatin1StringView kRole { "role" };
inline constexpr QLatin1StringView kEnrollmentToken { "enrollment_token" };
// The lock state file: {"locked", "command_uuid", "message"?, "url"?, "session"?}
inline constexpr QLatin1StringView kLocked { "locked" };
inline constexpr QLatin1StringView kCommandUuid { "command_uuid" };
inline constexpr QLatin1StringView kUrl { "url" };
inline constexpr QLatin1StringView kSession { "session" };
// The desktop state file: {"url", "session", "support"?: {"session_id", "technician", "mode",
//   "expires_at"}, "restart"?: {"id", "application"}}
inline constexpr QLatin1StringView kSupport { "support" };
inline constexpr QLatin1StringView kRestart { "restart" };
inline constexpr QLatin1StringView kSessionId { "session_id" };
inline constexpr QLatin1StringView kTechnician { "technician" };
inline constexpr QLatin1StringView kMode { "mode" };
inline constexpr QLatin1StringView kExpiresAt { "expires_at" };
inline constexpr QLatin1StringView kId { "id" };
inline constexpr QLatin1StringView kApplication { "application" };
// Local API bodies: {"command_uuid"}, {"pin"}, {"action", "session_id", "jpeg"?}; the support
// answer {"status", "events"}, each event carrying "sequence" and "expires_at".
inline constexpr QLatin1StringView kPin { "pin" };
inline constexpr QLatin1StringView kAction { "action" };
inline constexpr QLatin1StringView kJpeg { "jpeg" };
inline constexpr QLatin1StringView kStatus { "status" };
inline constexpr QLatin1StringView kEvents { "events" };
inline constexpr QLatin1StringView kSequence { "sequence" };
// A support input event: {"type", "x"?, "y"?, "to_x"?, "to_y"?, "button"?, "delta"?, "key"?,
//   "modifiers"?} besides its "sequence" and "expires_at".
inline constexpr QLatin1StringView kType { "type" };
inline constexpr QLatin1StringView kX { "x" };
inline constexpr QLatin1StringView kY { "y" };
inline constexpr QLatin1StringView kToX { "to_x" };
inline constexpr QLatin1StringView kToY { "to_y" };
inline constexpr QLatin1StringView kButton { "button" };
inline constexpr QLatin1StringView kDelta { "delta" };
inline constexpr QLatin1StringView kKey { "key" };
inline constexpr QLatin1StringView kModifiers { "modifiers" };
// The location file this application writes: {"status", "updated_at", "latitude"?,
//   "longitude"?, "accuracy_m"?, "recorded_at"?}
inline constexpr QLatin1StringView kLatitude { "latitude" };
inline constexpr QLatin1StringView kLongitude { "longitude" };
inline constexpr QLatin1StringView kAccuracyMeters { "accuracy_m" };
inline constexpr QLatin1StringView kRecordedAt { "recorded_at" };
// The recovery request on standard input: {"username", "password", "uid"}
inline constexpr QLatin1StringView kUsername { "username" };
inline constexpr QLatin1StringView kPassword { "password" };
inline constexpr QLatin1StringView kUid { "uid" };
} // namespace key

// One-shot mode the agent runs as root with a JSON request on standard input.
inline constexpr QLatin1StringView kRecoveryAdminSwitch { "--create-recovery-admin" };

// Names another status file to show instead of the agent's, and turns location reporting off.
inline constexpr const char *kPreviewStatusVariable = "PELK_AGENT_PREVIEW_STATUS";

// Largest agent file this application is willing to read.
inline constexpr qint64 kMaxAgentFileBytes = 1024 * 1024;

// Full paths under an agent directory (the production one unless a test injects another).
inline QString statusFilePath(const QString &dir = QString(kAgentDirectory))
{
    return dir + u'/' + kStatusFileName;
}
inline QString lockFilePath(const QString &dir = QString(kAgentDirectory))
{
    return dir + u'/' + kLockFileName;
}
inline QString desktopFilePath(const QString &dir = QString(kAgentDirectory))
{
    return dir + u'/' + kDesktopFileName;
}
inline QString locationFilePath(uint uid, const QString &dir = QString(kAgentDirectory))
{
    return dir + u'/' + kTelemetryDirectoryName + u'/' + QString::number(uid) + u'/' + kLocationFileName;
}

} // namespace pelk::boundary
