#include "agent/AgentModel.h"

#include "agent/RelativeTime.h"
#include "agent/Timestamp.h"
#include "boundary/AgentBoundary.h"
#include "boundary/AgentFile.h"
#include "location/LocationReporter.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Files.h"

#include <QCoreApplication>

#include <limits>

namespace pelk::agent {

using namespace Qt::StringLiterals;

namespace {

inline constexpr QLatin1StringView kConnected { "connected" };
inline constexpr QLatin1StringView kConnecting { "connecting" };
inline constexpr QLatin1StringView kOffline { "offline" };
inline constexpr QLatin1StringView kRevoked { "revoked" };
inline constexpr QLatin1StringView kStopped { "stopped" };
inline constexpr QLatin1StringView kUpdateRequired { "update_required" };
inline constexpr QLatin1StringView kNotEnrolled { "not_enrolled" };
inline constexpr QLatin1StringView kFallbackVersion { "0.4.0" };

// Whether a status written at updatedAt, with the given check-in interval, is too old at now.
// An interval so large that the limit does not fit 64 bits is never stale.
bool isStale(const QDateTime &updatedAt, std::optional<qint64> checkinSeconds, const QDateTime &now)
{
    qint64 limitSeconds = 0;
    qint64 limitMs = 0;
    if (__builtin_add_overflow(
            checkinSeconds.value_or(AgentModel::kDefaultCheckinSeconds), AgentModel::kStaleGraceSeconds, &limitSeconds))
        return false;
    if (__builtin_mul_overflow(limitSeconds, qint64(1000), &limitMs))
        return limitSeconds < 0; // beyond any age a clock can show
    return updatedAt.msecsTo(now) > limitMs;
}

} // namespace

AgentModel::AgentModel(Collaborators collaborators, QObject *parent)
    : QObject(parent), m_collaborators(std::move(collaborators)), m_location(m_collaborators.location),
      m_status(QString(kNotEnrolled), tr(texts::kInitialMessage)),
      m_enrollment(new EnrollmentImporter({ m_collaborators.helperPath, m_collaborators.temporaryDirectory,
                                              m_collaborators.clock, m_collaborators.runner },
          this)),
      m_locationMessage(tr(texts::kWaitingForLocation))
{
    Q_ASSERT(m_collaborators.clock && m_collaborators.environment && m_location);
    m_location->setParent(this);
    QObject::connect(m_enrollment, &EnrollmentImporter::imported, this, &AgentModel::imported);
}

AgentModel::~AgentModel() = default;

void AgentModel::start()
{
    // The reporter is a child of the model, so the callback cannot outlive it.
    m_location->setOnStatus([this](QLatin1StringView status, const QString &message) {
        m_locationReporting = status == location::words::kAvailable;
        setLocationMessage(message);
    });
    refresh();
    m_timer = new QTimer(this);
    m_timer->setInterval(kPollIntervalMs);
    QObject::connect(m_timer, &QTimer::timeout, this, &AgentModel::refresh);
    m_timer->start();
}

void AgentModel::refresh()
{
    const std::optional<QString> preview = m_collaborators.environment->value(boundary::kPreviewStatusVariable);
    const QString path = preview ? *preview : m_collaborators.statusPath;
    const std::optional<QByteArray> bytes = boundary::readAgentFile(path);
    std::optional<AgentStatus> record = bytes ? AgentStatus::decode(*bytes) : std::nullopt;

    if (!record) {
        setStatus(substituteStatus());
    } else {
        std::optional<AgentStatus> accepted = acceptedStatus(std::move(*record));
        // Older than the last import: the import's own status stays until the agent catches up.
        if (!accepted)
            return;
        setStatus(std::move(*accepted));
    }
    m_location->update(enrolled());
    if (m_onRefresh)
        m_onRefresh();
}

AgentStatus AgentModel::substituteStatus() const
{
    if (platform::isExecutable(m_collaborators.helperPath))
        return AgentStatus(QString(kUpdateRequired), tr(texts::kUpdateRequiredMessage));
    return AgentStatus(QString(kStopped), tr(texts::kNotInstalledMessage));
}

void AgentModel::imported(const QString &baseUrl)
{
    m_lastImport = m_collaborators.clock->now();
    setStatus(AgentStatus(QString(kConnecting), tr("Enrollment imported. Connecting to %1…").arg(baseUrl)));
    if (m_onRefresh)
        m_onRefresh();
}

std::optional<AgentStatus> AgentModel::acceptedStatus(AgentStatus record) const
{
    const std::optional<QDateTime> updatedAt = timestamp(record.updatedAt);
    if (!updatedAt)
        return record;
    if (m_lastImport && *updatedAt < *m_lastImport)
        return std::nullopt;
    if (isStale(*updatedAt, record.nextCheckinSeconds, m_collaborators.clock->now())) {
        record.phase = QString(kStopped);
        record.message = tr(texts::kStaleMessage);
    }
    return record;
}

QString AgentModel::title() const
{
    const QString &phase = m_status.phase;
    if (phase == kConnected)
        return signingReady() ? tr("Connected") : tr("Connected · signing key needed");
    if (phase == kConnecting)
        return tr("Connecting");
    if (phase == kOffline)
        return tr("Offline · retrying");
    if (phase == kRevoked)
        return tr("Device no longer managed");
    if (phase == "enrollment_error"_L1)
        return tr("Enrollment needs attention");
    if (phase == kStopped)
        return tr("Agent is not responding");
    if (phase == kUpdateRequired)
        return tr("Agent update required");
    return tr("Not connected");
}

QString AgentModel::lastSeen() const
{
    const std::optional<QDateTime> checkin = timestamp(m_status.lastCheckin);
    if (!checkin)
        return tr(texts::kNoCheckinYet);
    return relativePhrase(*checkin, m_collaborators.clock->now());
}

QString AgentModel::footerVersion() const
{
    if (m_status.version)
        return *m_status.version;
    const QString application = QCoreApplication::applicationVersion();
    return application.isEmpty() ? QString(kFallbackVersion) : application;
}

bool AgentModel::enrolled() const
{
    if (m_status.enrolled)
        return *m_status.enrolled;
    return m_status.phase == kConnected || m_status.phase == kOffline;
}

bool AgentModel::connected() const
{
    return m_status.phase == kConnected;
}

bool AgentModel::connecting() const
{
    return m_status.phase == kConnecting;
}

bool AgentModel::revoked() const
{
    return m_status.phase == kRevoked;
}

bool AgentModel::connectedDetailsShown() const
{
    return connected() && timestamp(m_status.lastCheckin).has_value();
}

QString AgentModel::nextCheckinLine() const
{
    const std::optional<QDateTime> checkin = timestamp(m_status.lastCheckin);
    if (!checkin)
        return QString();
    const qint64 interval = m_status.nextCheckinSeconds.value_or(kDefaultCheckinSeconds);
    const qint64 elapsed = checkin->msecsTo(m_collaborators.clock->now()) / 1000; // truncated toward zero
    qint64 remaining = 0;
    if (__builtin_sub_overflow(interval, elapsed, &remaining))
        remaining = elapsed < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    if (remaining > 0)
        return tr("Next check-in in %1s").arg(remaining);
    return tr("Checking in…");
}

// Every assignment is announced, changed or not: each poll is a redraw of what depends on it.
void AgentModel::setStatus(AgentStatus status)
{
    m_status = std::move(status);
    Q_EMIT statusChanged();
}

void AgentModel::setLocationMessage(const QString &message)
{
    m_locationMessage = message;
    Q_EMIT locationMessageChanged();
}

} // namespace pelk::agent
