#pragma once

#include "lock/LockScreens.h"

class QQmlEngine;

namespace pelk::lock {

// Lock windows as Qt Quick windows (LockWindow.qml) on the screens Qt knows.
class QuickLockScreens : public LockScreens {
public:
    explicit QuickLockScreens(QQmlEngine &engine);

    QList<QRect> screens() const override;
    std::unique_ptr<LockSurface> createWindow(
        const QRect &frame, const QString &message, bool aboveLoginWindow, PinSubmit submit) override;

private:
    QQmlEngine &m_engine;
};

} // namespace pelk::lock
