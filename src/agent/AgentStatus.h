#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::agent {

// The agent's status file, as the agent wrote it, or a record this application built itself.
struct AgentStatus {
    AgentStatus() = default;
    // A record of this application's own: every optional member absent.
    AgentStatus(QString phase_, QString message_) : phase(std::move(phase_)), message(std::move(message_)) { }

    QString phase;
    QString message;
    std::optional<QString> version;
    std::optional<QString> workspace;
    std::optional<QString> baseURL;
    std::optional<QString> deviceName;
    std::optional<qint64> deviceID;
    std::optional<QString> updatedAt;
    std::optional<QString> lastCheckin;
    std::optional<qint64> nextCheckinSeconds;
    std::optional<bool> signingReady;
    std::optional<bool> browserHistoryEnabled;
    std::optional<bool> enrolled;

    // Decodes the whole document or nothing (see StrictReader for the rules).
    static std::optional<AgentStatus> decode(const QByteArray &bytes);

    friend bool operator==(const AgentStatus &, const AgentStatus &) = default;
};

} // namespace pelk::agent
