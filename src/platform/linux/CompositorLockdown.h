#pragma once

#include "platform/CompositorLock.h"
#include "platform/DesktopLockdown.h"

#include <chrono>
#include <memory>
#include <optional>

namespace pelk::platform {

// The lockdown of a Wayland desktop whose compositor offers its session lock: the PIN pad is the
// lock screen itself, and the device is held once the compositor confirms the lock. Until it
// does (given a moment), or while it refuses (another program holds a lock), the session is
// locked through logind and the compositor asked again each second.
class CompositorLockdown final : public DesktopLockdown {
public:
    CompositorLockdown(std::unique_ptr<CompositorLock> lock, std::unique_ptr<DesktopLockdown> sessionLock);

    void saveState() override { }
    bool force(quintptr keyWindow) override;
    void restore() override;
    void keepCovering(const QList<quintptr> &windows, std::function<void()> changed) override;
    QList<QRect> screens() const override { return m_lock->outputs(); }
    QString limitation() const override;
    CompositorLock *compositorLock() override { return m_lock.get(); }

private:
    std::unique_ptr<CompositorLock> m_lock;
    std::unique_ptr<DesktopLockdown> m_sessionLock;
    std::optional<std::chrono::steady_clock::time_point> m_askedAt;
    std::function<void()> m_changed;
};

} // namespace pelk::platform
