#pragma once

#include "agent/AgentStatus.h"
#include "agent/EnrollmentImporter.h"
#include "boundary/AgentBoundary.h"
#include "location/LocationReporter.h"
#include "platform/PrivilegedRunner.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pelk::platform {
class Clock;
class Environment;
} // namespace pelk::platform

namespace pelk::agent {

// Texts the model shows for records of its own, in English; the model shows them through tr().
namespace texts {
inline constexpr char kInitialMessage[] = QT_TRANSLATE_NOOP(
    "pelk::agent::AgentModel", "Drop the enrollment JSON downloaded from Pelk to connect this computer.");
inline constexpr char kUpdateRequiredMessage[] = QT_TRANSLATE_NOOP(
    "pelk::agent::AgentModel", "Install the latest Pelk Agent package to enable setup and connection status.");
inline constexpr char kNotInstalledMessage[]
    = QT_TRANSLATE_NOOP("pelk::agent::AgentModel", "Install Pelk Agent to start the background service.");
inline constexpr char kStaleMessage[] = QT_TRANSLATE_NOOP("pelk::agent::AgentModel",
    "The background service has not reported recently. Reinstall Pelk Agent if it does not recover.");
inline constexpr char kWaitingForLocation[]
    = QT_TRANSLATE_NOOP("pelk::agent::AgentModel", "Waiting for location status…");
inline constexpr char kNoCheckinYet[] = QT_TRANSLATE_NOOP("pelk::agent::AgentModel", "No check-in yet");
} // namespace texts

// The one observable model behind the status menu and the setup window: polls the agent's
// status file, presents it and drives location reporting; its enrollment importer runs the import.
class AgentModel : public QObject {
    Q_OBJECT
    // The agent status, member by member; absent text reads as empty.
    Q_PROPERTY(QString phase READ phase NOTIFY statusChanged)
    Q_PROPERTY(QString message READ message NOTIFY statusChanged)
    Q_PROPERTY(QString title READ title NOTIFY statusChanged)
    Q_PROPERTY(QString lastSeen READ lastSeen NOTIFY statusChanged)
    Q_PROPERTY(QString version READ version NOTIFY statusChanged)
    Q_PROPERTY(QString footerVersion READ footerVersion NOTIFY statusChanged)
    Q_PROPERTY(QString workspace READ workspace NOTIFY statusChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY statusChanged)
    Q_PROPERTY(QString baseUrl READ baseUrl NOTIFY statusChanged)
    Q_PROPERTY(bool signingReady READ signingReady NOTIFY statusChanged)
    Q_PROPERTY(bool browserHistoryEnabled READ browserHistoryEnabled NOTIFY statusChanged)
    Q_PROPERTY(bool enrolled READ enrolled NOTIFY statusChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY statusChanged)
    Q_PROPERTY(bool connecting READ connecting NOTIFY statusChanged)
    Q_PROPERTY(bool revoked READ revoked NOTIFY statusChanged)
    // Phase "connected" with a last check-in that parses: the privacy and location lines show.
    Q_PROPERTY(bool connectedDetailsShown READ connectedDetailsShown NOTIFY statusChanged)
    Q_PROPERTY(QString nextCheckin READ nextCheckinLine NOTIFY statusChanged)
    Q_PROPERTY(pelk::agent::EnrollmentImporter *enrollment READ enrollment CONSTANT)
    // Location reporting.
    Q_PROPERTY(QString locationMessage READ locationMessage NOTIFY locationMessageChanged)
    // Whether the last publication reported a position (its sentence is in the session's language).
    Q_PROPERTY(bool locationReporting READ locationReporting NOTIFY locationMessageChanged)
    Q_PROPERTY(pelk::location::LocationReporter *location READ location CONSTANT)

public:
    // The poll interval of the status file.
    static constexpr int kPollIntervalMs = 3000;
    // Check-in interval assumed when the agent does not give one.
    static constexpr qint64 kDefaultCheckinSeconds = 60;
    // Grace beyond the check-in interval before a silent agent counts as stopped.
    static constexpr qint64 kStaleGraceSeconds = 30;

    // The paths default to the production ones; tests inject their own.
    struct Collaborators {
        QString statusPath = boundary::statusFilePath();
        QString helperPath = QString(boundary::kHelperPath);
        // Where the private copy of an enrollment goes for the helper to read.
        QString temporaryDirectory = QDir::tempPath();
        // Both must outlive the model.
        const platform::Clock *clock = nullptr;
        const platform::Environment *environment = nullptr;
        // Shared with the background run, which may outlast the model.
        std::shared_ptr<platform::PrivilegedRunner> runner;
        // Owned by the model from here on.
        location::LocationReporter *location = nullptr;
    };

    explicit AgentModel(Collaborators collaborators, QObject *parent = nullptr);
    ~AgentModel() override;

    // Polls at once, then every 3 seconds for the life of the model.
    void start();
    // One poll of the status file.
    void refresh();

    // Called after each accepted poll and after a successful import.
    void setOnRefresh(std::function<void()> onRefresh) { m_onRefresh = std::move(onRefresh); }

    EnrollmentImporter *enrollment() const { return m_enrollment; }
    QString locationMessage() const { return m_locationMessage; }
    bool locationReporting() const { return m_locationReporting; }
    location::LocationReporter *location() const { return m_location; }

    QString phase() const { return m_status.phase; }
    QString message() const { return m_status.message; }
    QString title() const;
    QString lastSeen() const;
    QString version() const { return m_status.version.value_or(QString()); }
    QString footerVersion() const;
    QString workspace() const { return m_status.workspace.value_or(QString()); }
    QString deviceName() const { return m_status.deviceName.value_or(QString()); }
    QString baseUrl() const { return m_status.baseURL.value_or(QString()); }
    bool signingReady() const { return m_status.signingReady.value_or(false); }
    bool browserHistoryEnabled() const { return m_status.browserHistoryEnabled.value_or(false); }
    bool enrolled() const;
    bool connected() const;
    bool connecting() const;
    bool revoked() const;
    bool connectedDetailsShown() const;
    // "Next check-in in 42s" or "Checking in…", counted from the last check-in to now.
    Q_INVOKABLE QString nextCheckinLine() const;

Q_SIGNALS:
    void statusChanged();
    void locationMessageChanged();

private:
    // What the poll shows when the status file cannot be used.
    AgentStatus substituteStatus() const;
    // The record as read, or nothing when it is older than the last import.
    std::optional<AgentStatus> acceptedStatus(AgentStatus record) const;
    // The helper took an enrollment: show "connecting" until the agent writes a newer status.
    void imported(const QString &baseUrl);

    void setStatus(AgentStatus status);
    void setLocationMessage(const QString &message);

    Collaborators m_collaborators;
    location::LocationReporter *m_location;
    AgentStatus m_status;
    EnrollmentImporter *m_enrollment;
    QString m_locationMessage;
    bool m_locationReporting = false;
    std::function<void()> m_onRefresh;
    QTimer *m_timer = nullptr;
    std::optional<QDateTime> m_lastImport;
};

} // namespace pelk::agent
