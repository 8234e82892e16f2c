#pragma once

#include "lock/LockScreens.h"

#include <vector>

class QQmlEngine;

namespace pelk::platform {
class CompositorLock;
}

namespace pelk::lock {

class RenderedLockSurface;

// Lock screens drawn into the compositor's own session lock: each window's view (LockView.qml)
// is rendered off screen by Qt Quick's software renderer and handed to the compositor as a
// picture, and what the person types or clicks on that output comes back to the view as events.
// While a rebuild has two windows for one output, the newer one is shown.
class RenderedLockScreens : public LockScreens {
public:
    RenderedLockScreens(QQmlEngine &engine, platform::CompositorLock &lock);
    ~RenderedLockScreens() override;

    QList<QRect> screens() const override;
    std::unique_ptr<LockSurface> createWindow(
        const QRect &frame, const QString &message, bool aboveLoginWindow, PinSubmit submit) override;

private:
    friend class RenderedLockSurface;
    // The window shown on output, or null.
    RenderedLockSurface *shownOn(int output) const;
    // Another window may be shown on output now: it draws afresh.
    void shownChanged(int output);
    void forget(RenderedLockSurface *surface);

    QQmlEngine &m_engine;
    platform::CompositorLock &m_lock;
    // Oldest first.
    std::vector<RenderedLockSurface *> m_surfaces;
};

} // namespace pelk::lock
