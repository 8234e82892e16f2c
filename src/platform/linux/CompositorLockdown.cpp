#include "platform/linux/CompositorLockdown.h"

#include <QCoreApplication>

namespace pelk::platform {

namespace {
// The compositor confirms once every output shows the PIN pad: a few frames, more under load.
constexpr auto kConfirmGrace = std::chrono::milliseconds(1500);
// How often a refused lock is asked for again.
constexpr auto kAskAgain = std::chrono::seconds(1);
} // namespace

CompositorLockdown::CompositorLockdown(
    std::unique_ptr<CompositorLock> lock, std::unique_ptr<DesktopLockdown> sessionLock)
    : m_lock(std::move(lock)), m_sessionLock(std::move(sessionLock))
{
    // Outputs that come and go, and the lock confirmed or lost, are answered at once, though
    // not within the call that caused them (the caller may be in the middle of covering).
    const auto changed = [this] {
        if (m_changed)
            m_changed();
    };
    QObject::connect(m_lock.get(), &CompositorLock::outputsChanged, m_lock.get(), changed, Qt::QueuedConnection);
    QObject::connect(m_lock.get(), &CompositorLock::stateChanged, m_lock.get(), changed, Qt::QueuedConnection);
}

bool CompositorLockdown::force(quintptr keyWindow)
{
    using State = CompositorLock::State;
    const auto now = std::chrono::steady_clock::now();
    const State state = m_lock->state();
    if (state == State::Unlocked || (state == State::Refused && (!m_askedAt || now - *m_askedAt >= kAskAgain))) {
        m_askedAt = now;
        m_lock->lock();
    }
    switch (m_lock->state()) {
    case State::Locked:
        return true;
    case State::Locking:
        if (m_askedAt && now - *m_askedAt < kConfirmGrace)
            return false;
        break;
    case State::Unlocked:
    case State::Refused:
        break;
    }
    // Not confirmed: the desktop's own lock screen holds meanwhile.
    return m_sessionLock->force(keyWindow);
}

void CompositorLockdown::restore()
{
    m_lock->unlock();
    m_askedAt.reset();
    m_sessionLock->restore();
}

void CompositorLockdown::keepCovering(const QList<quintptr> &windows, std::function<void()> changed)
{
    Q_UNUSED(windows);
    m_changed = std::move(changed);
}

QString CompositorLockdown::limitation() const
{
    return m_lock->state() == CompositorLock::State::Refused
        ? QCoreApplication::translate("pelk::platform::CompositorLockdown",
            "Another program holds this desktop's lock: its own lock screen stays on while the computer is locked")
        : QString();
}

} // namespace pelk::platform
