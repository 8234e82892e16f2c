#include "app/EventLoop.h"

#include "app/AgentDelegate.h"
#include "app/ApplicationDelegate.h"
#include "app/BrandLook.h"
#include "app/LockRuntime.h"
#include "app/LoginWindowLockDelegate.h"
#include "app/TerminationRequests.h"
#include "app/Translations.h"
#include "app/brand/Brand.h"
#include "lock/ManagedLockController.h"
#include "platform/DesktopLockdown.h"
#include "platform/Platform.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"

#include <QApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>

namespace pelk::app {

using namespace Qt::StringLiterals;

namespace {

// Files named on the command line (anything that is not a switch), as absolute paths.
QStringList fileArguments(const QStringList &arguments)
{
    QStringList files;
    for (const QString &argument : arguments.mid(1)) {
        if (!argument.startsWith(u"--"))
            files.append(QFileInfo(argument).absoluteFilePath());
    }
    return files;
}

QList<QUrl> fileUrls(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

} // namespace

int runEventLoop(LaunchMode mode, const ProcessValues &values, platform::Platform &platform, int &argc, char **argv)
{
    // Qt Quick's software renderer: a lock screen must come up on every machine, and with
    // the OpenGL backend a missing or broken GL stack leaves its windows unshown.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelk Agent"));
    // Shown in the setup window when the agent reports no version of its own.
    QApplication::setApplicationVersion(QStringLiteral(PELK_VERSION));
    // The .desktop file's id: GeoClue admits the application by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("pelk-agent"));
    QApplication::setQuitOnLastWindowClosed(false);
    // GeoClue's refusals are answered in the setup window, not on the terminal.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.positioning.*=false"));
    Brand::setProcessValues(values);
    // Before the first view or menu is made: their texts are read once, when they are built.
    const Translations translations(QLocale::system());

    if (mode == LaunchMode::LoginWindow) {
        LoginWindowLockDelegate delegate(platform.desktopLockdown());
        const auto osSignals = platform.terminationSignals();
        const TerminationRequests termination(delegate, *osSignals);
        QTimer::singleShot(0, &application, [&delegate] { delegate.applicationDidFinishLaunching(); });
        QApplication::exec();
        return 0;
    }

    const QStringList arguments = QCoreApplication::arguments();
    const QStringList files = fileArguments(arguments);
    const auto instance = platform.singleInstance();
    if (!instance->claim()) {
        // A start at login leaves the running copy as it is; a start by the person shows it.
        if (hasSwitch(arguments, "--background"_L1) && files.isEmpty())
            return kAlreadyRunningStatus;
        return instance->forward(files) ? 0 : 1;
    }

    AgentDelegate delegate(AgentParts::production(platform), arguments);
    const auto osSignals = platform.terminationSignals();
    const TerminationRequests termination(delegate, *osSignals);
    QObject::connect(instance.get(), &platform::SingleInstance::reopenRequested, &delegate,
        &AgentDelegate::applicationShouldHandleReopen);
    QObject::connect(instance.get(), &platform::SingleInstance::openRequested, &delegate,
        [&delegate](const QStringList &paths) { delegate.openFiles(fileUrls(paths)); });
    QTimer::singleShot(0, &application, [&delegate, files] {
        delegate.applicationDidFinishLaunching();
        delegate.openFiles(fileUrls(files));
    });
    QApplication::exec();
    return 0;
}

} // namespace pelk::app
