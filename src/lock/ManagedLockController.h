#pragma once

#include "boundary/AgentBoundary.h"
#include "lock/LockScreens.h"
#include "lock/LockState.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pelk::boundary {
class ApiRequester;
}
namespace pelk::platform {
class DesktopLockdown;
}

namespace pelk::lock {

// Follows the agent's lock state file once a second and, while it says locked, covers every
// screen with a lock window, shuts the desktop out, reports presence and forwards PINs.
// Fail-closed: only a well-formed record with locked false takes a shown lock away.
class ManagedLockController : public QObject {
    Q_OBJECT

public:
    ManagedLockController(LockScreens &screens, platform::DesktopLockdown &lockdown, boundary::ApiRequester &requester,
        QString lockFilePath = boundary::lockFilePath(), QObject *parent = nullptr);
    ~ManagedLockController() override;

    void setAboveLoginWindow(bool above) { m_aboveLoginWindow = above; }

    // Refreshes at once, then every second for the life of the controller. Call once.
    void start();
    // Reads the lock state file and brings the screens into line with it.
    void refresh();
    bool isLocked() const { return m_state && m_state->locked; }

    // The PIN pads' way out: sends {"pin": pin} to "unlock"; done gets the result, then a
    // success refreshes at once so an unlock the agent already wrote shows without delay.
    void submit(const QString &pin, std::function<void(bool)> done);

private:
    QList<QRect> screens() const;
    // Brings the windows into line with the screens (new ones first when rebuilding), raises
    // them, takes the input and has the desktop keep them covering between looks.
    void cover(bool rebuild);
    void showWindows(const QList<QRect> &screens);
    void closeWindows();
    // Takes the keyboard and pointer for the key window; while another client keeps them,
    // tries again every few frames instead of once a second.
    void holdInput();
    void request(QLatin1StringView endpoint, const QJsonObject &body, std::function<void(bool)> done);

    LockScreens &m_screens;
    platform::DesktopLockdown &m_lockdown;
    boundary::ApiRequester &m_requester;
    const QString m_lockFilePath;
    std::optional<LockState> m_state;
    std::vector<std::unique_ptr<LockSurface>> m_windows;
    QTimer m_timer;
    QTimer m_inputRetry;
    bool m_inputRefused = false;
    bool m_aboveLoginWindow = false;
};

} // namespace pelk::lock
