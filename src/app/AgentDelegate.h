#pragma once

#include "support/RemoteSupport.h"

#include "agent/AgentModel.h"
#include "app/ApplicationDelegate.h"
#include "app/LockRuntime.h"
#include "platform/Clock.h"
#include "platform/ColorScheme.h"
#include "platform/Environment.h"

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QStringList>
#include <QUrl>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace pelk::lock {
class ManagedLockController;
}
namespace pelk::platform {
class Platform;
}

namespace pelk::app {

// The long-lived parts of the status-bar application, created before launch and doing
// nothing until started. Declared so that each part outlives the ones that use it.
struct AgentParts {
    std::unique_ptr<platform::Clock> clock;
    std::unique_ptr<platform::Environment> environment;
    // Followed by the views once they load; absent in tests, which keep the palette's look.
    std::unique_ptr<platform::ColorScheme> colorScheme;
    std::unique_ptr<LockRuntime> managedLock;
    std::unique_ptr<agent::AgentModel> model;
    // Started at the end of the launch, shut down in applicationWillTerminate; absent in
    // tests that leave support out.
    std::unique_ptr<support::RemoteSupport> remoteSupport;

    // The real agent files and the platform's services.
    static AgentParts production(platform::Platform &platform);
};

// The normal mode: the tray icon with its status menu, the setup window, the managed lock,
// and the process's life cycle. Every termination is refused while the device is locked.
class AgentDelegate : public QObject, public ApplicationDelegate {
    Q_OBJECT
public:
    // The name the tray shows before the status; a name, so the same in every language.
    static constexpr QLatin1StringView kApplicationName { "Pelk Agent" };
    // Where the tray icon's image ships.
    static constexpr QLatin1StringView kIconResource { ":/pelk/images/PelkIcon.png" };

    AgentDelegate(AgentParts parts, QStringList arguments, QObject *parent = nullptr);
    ~AgentDelegate() override;

    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminate() override;
    void applicationWillTerminate() override;
    void applicationDidBecomeActive();
    // The running application was launched again.
    void applicationShouldHandleReopen();
    // Files to open with the application: the first is loaded, the window shown.
    void openFiles(const QList<QUrl> &files);

    void openWindow();
    void quitUI();
    void updateMenu();

    // "Pelk Agent · " and the model's title: menu line 1 and the tray tooltip.
    QString statusLine() const;

    agent::AgentModel &model() { return *m_parts.model; }
    lock::ManagedLockController &managedLock() { return m_parts.managedLock->lock(); }
    QSystemTrayIcon *item() const { return m_item.get(); }
    QMenu *menu() const { return m_menu.get(); }
    // Absent until the window is first shown: its views load only then.
    QQuickWindow *window() const { return m_window; }

private:
    bool ensureWindow();

    AgentParts m_parts;
    QStringList m_arguments;
    QPointer<QQuickWindow> m_window;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_item;
};

} // namespace pelk::app
