#include "app/AgentDelegate.h"

#include "app/AppLog.h"
#include "support/RemoteSupport.h"
#include "support/RemoteSupportController.h"

#include "agent/AgentModel.h"
#include "app/BrandLook.h"
#include "app/brand/Appearance.h"
#include "boundary/AgentBoundary.h"
#include "boundary/AgentDirectoryWatcher.h"
#include "location/LocationReporter.h"
#include "lock/ManagedLockController.h"
#include "platform/Clock.h"
#include "platform/DesktopLockdown.h"
#include "platform/Environment.h"
#include "platform/LocationService.h"
#include "platform/Platform.h"
#include "platform/PrivilegedRunner.h"
#include "platform/ViewWindow.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSystemTrayIcon>

namespace pelk::app {

using namespace Qt::StringLiterals;

namespace {

constexpr QLatin1StringView kBackgroundSwitch { "--background" };

// The desktop's own dialog for one JSON file, modal for the whole application.
std::optional<QUrl> chooseEnrollmentFile()
{
    QFileDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setMimeTypeFilters({ u"application/json"_s });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return std::nullopt;
    return dialog.selectedUrls().constFirst();
}

bool applicationIsActive()
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

} // namespace

AgentParts AgentParts::production(platform::Platform &platform)
{
    AgentParts parts;
    parts.clock = platform.clock();
    parts.environment = platform.environment();
    parts.colorScheme = platform.colorScheme();
    parts.managedLock = std::make_unique<LockRuntime>(platform.desktopLockdown());
    auto *location = new location::LocationReporter(platform.locationService(), *parts.clock, *parts.environment,
        applicationIsActive, boundary::locationFilePath(platform.userId()));
    // The private copy of an enrollment goes to the user's own runtime directory, not the shared /tmp.
    const std::optional<QString> runtimeDirectory = parts.environment->value("XDG_RUNTIME_DIR");
    parts.model = std::make_unique<agent::AgentModel>(agent::AgentModel::Collaborators {
        .temporaryDirectory = runtimeDirectory && !runtimeDirectory->isEmpty() ? *runtimeDirectory : QDir::tempPath(),
        .clock = parts.clock.get(),
        .environment = parts.environment.get(),
        .runner = platform.privilegedRunner(),
        .location = location,
    });
    parts.model->enrollment()->setFileChooser(chooseEnrollmentFile);
    parts.remoteSupport = std::make_unique<support::RemoteSupport>(parts.managedLock->engine(), platform);
    parts.remoteSupport->controller().setManagedLockHeld(
        [lock = &parts.managedLock->lock()] { return lock->isLocked(); });
    return parts;
}

AgentDelegate::AgentDelegate(AgentParts parts, QStringList arguments, QObject *parent)
    : QObject(parent), m_parts(std::move(parts)), m_arguments(std::move(arguments))
{
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QObject::connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                applicationDidBecomeActive();
        });
    }
}

// The window's views belong to the lock's engine: close it before the parts go.
AgentDelegate::~AgentDelegate()
{
    delete m_window.data();
}

void AgentDelegate::applicationDidFinishLaunching()
{
    registerBrandFonts();
    // The lock first, so that a locked device shows the lock before anything of ours.
    managedLock().start();

    // The window is made the first time it is shown (see ensureWindow): until then the
    // process carries no scene graph.
    m_menu = std::make_unique<QMenu>();
    m_item = std::make_unique<QSystemTrayIcon>();
    const QImage image { QString(kIconResource) };
    if (!image.isNull())
        m_item->setIcon(QIcon(QPixmap::fromImage(image)));
    // Some tray hosts show no icon without a menu: it has one from the start.
    m_item->setContextMenu(m_menu.get());
    QObject::connect(m_item.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        // A plain click opens the status menu, as a right click does.
        if (why == QSystemTrayIcon::Trigger && m_menu)
            m_menu->popup(QCursor::pos());
    });

    m_parts.model->setOnRefresh([self = QPointer<AgentDelegate>(this)] {
        if (!self)
            return;
        self->managedLock().refresh();
        self->updateMenu();
    });
    m_parts.model->start();
    // The agent's files are read as soon as they change, not only on the next poll.
    boundary::AgentDirectoryWatcher &agentDirectory = m_parts.managedLock->agentDirectory();
    agentDirectory.follow(boundary::statusFilePath(), [self = QPointer<AgentDelegate>(this)] {
        if (self)
            self->m_parts.model->refresh();
    });
    updateMenu();
    m_item->show();

    if (m_parts.remoteSupport) {
        m_parts.remoteSupport->controller().start();
        agentDirectory.follow(boundary::desktopFilePath(), [self = QPointer<AgentDelegate>(this)] {
            if (self && self->m_parts.remoteSupport)
                self->m_parts.remoteSupport->controller().tick();
        });
    }

    if (managedLock().isLocked())
        return;
    if (m_arguments.contains(kBackgroundSwitch))
        return;
    openWindow();
}

bool AgentDelegate::applicationShouldTerminate()
{
    return !managedLock().isLocked();
}

void AgentDelegate::applicationWillTerminate()
{
    if (m_parts.remoteSupport)
        m_parts.remoteSupport->controller().shutdown();
}

void AgentDelegate::applicationDidBecomeActive()
{
    m_parts.model->location()->foregrounded();
}

void AgentDelegate::applicationShouldHandleReopen()
{
    openWindow();
}

void AgentDelegate::openFiles(const QList<QUrl> &files)
{
    if (files.isEmpty())
        return;
    m_parts.model->enrollment()->load(files.constFirst());
    openWindow();
}

void AgentDelegate::openWindow()
{
    if (managedLock().isLocked()) {
        managedLock().refresh();
        return;
    }
    if (!ensureWindow())
        return;
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void AgentDelegate::quitUI()
{
    if (managedLock().isLocked())
        return;
    // Asks applicationShouldTerminate once more on the way out.
    QCoreApplication::quit();
}

QString AgentDelegate::statusLine() const
{
    return kApplicationName + u" \u00B7 "_s + m_parts.model->title();
}

void AgentDelegate::updateMenu()
{
    if (!m_item || !m_menu)
        return;
    const QString line = statusLine();
    m_item->setToolTip(line);

    m_menu->clear();
    m_menu->addAction(line)->setEnabled(false);
    m_menu->addAction(tr("Last check-in: %1").arg(m_parts.model->lastSeen()))->setEnabled(false);
    if (const QString limitation = m_parts.managedLock->limitation(); managedLock().isLocked() && !limitation.isEmpty())
        m_menu->addAction(limitation)->setEnabled(false);
    m_menu->addSeparator();
    QObject::connect(m_menu->addAction(tr("Open Pelk Agent…")), &QAction::triggered, this, &AgentDelegate::openWindow);
    QAction *quit = m_menu->addAction(tr("Quit status app"));
    quit->setEnabled(!managedLock().isLocked());
    QObject::connect(quit, &QAction::triggered, this, &AgentDelegate::quitUI);
}

bool AgentDelegate::ensureWindow()
{
    if (m_window)
        return true;
    QQmlEngine &engine = m_parts.managedLock->engine();
    auto *window = platform::createViewWindow(engine, "Pelk.Agent", "SetupWindow",
        { { u"model"_s, QVariant::fromValue<QObject *>(m_parts.model.get()) } }, lcApp());
    if (!window)
        return false;
    // The window's import registered the brand's types: from now on its look follows the desktop.
    auto *appearance = engine.singletonInstance<Appearance *>(qmlTypeId("Pelk.Brand", 1, 0, "Appearance"));
    if (appearance && m_parts.colorScheme)
        appearance->follow(m_parts.colorScheme.get());
    platform::centreOnPrimaryScreen(*window);
    m_window = window;
    return true;
}

} // namespace pelk::app
