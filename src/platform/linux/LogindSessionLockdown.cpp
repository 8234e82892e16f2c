#include "platform/linux/LogindSessionLockdown.h"

#include "platform/linux/Logind.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace pelk::platform {

using namespace logind;
using namespace Qt::StringLiterals;

namespace {
constexpr int kCallTimeoutMs = 5000;
// The controller retries a lockdown that does not hold every tick; logind is asked far less often.
constexpr auto kAskInterval = std::chrono::seconds(1);
} // namespace

LogindSessionLockdown::LogindSessionLockdown(
    QDBusConnection bus, QString sessionId, std::unique_ptr<ConsoleSession> session)
    : m_bus(std::move(bus)), m_sessionId(std::move(sessionId)), m_session(std::move(session))
{
}

bool LogindSessionLockdown::force(quintptr)
{
    // An unanswered question counts as unlocked, so a missing logind keeps the lock asking.
    if (m_session->properties().screenIsLocked)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (!m_asking && (!m_lastAsked || now - *m_lastAsked >= kAskInterval)) {
        m_lastAsked = now;
        askForLock();
    }
    return false;
}

QString LogindSessionLockdown::limitation() const
{
    return tr("This desktop lets no application hold the keyboard: its own lock screen stays on while the computer is "
              "locked");
}

// Asynchronous throughout: a wedged bus must never freeze the lock windows.
void LogindSessionLockdown::askForLock()
{
    if (!m_bus.isConnected())
        return;
    m_asking = true;
    const auto lock = [this] {
        const QDBusMessage call = QDBusMessage::createMethodCall(kService, m_sessionPath, kSessionInterface, u"Lock"_s);
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *done) {
            done->deleteLater();
            m_asking = false;
        });
    };
    if (!m_sessionPath.isEmpty()) {
        lock();
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(getSession(m_sessionId), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, lock](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> session = *done;
        if (session.isError() || session.value().path().isEmpty()) {
            m_asking = false;
            return;
        }
        m_sessionPath = session.value().path();
        lock();
    });
}

} // namespace pelk::platform
