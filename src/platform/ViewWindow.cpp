#include "platform/ViewWindow.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QScreen>

namespace pelk::platform {

QQuickWindow *createViewWindow(QQmlEngine &engine, QByteArrayView module, QByteArrayView type,
    const QVariantMap &properties, const QLoggingCategory &log)
{
    QQmlComponent component(&engine);
    const QByteArray source = "import " + module.toByteArray() + '\n' + type.toByteArray() + " {}\n";
    component.setData(source, QUrl(QStringLiteral("qrc:/pelk/%1Loader.qml").arg(QLatin1StringView(type))));
    if (!component.isReady()) {
        // Creating from a component in error crashes.
        qCWarning(log, "%s", qPrintable(component.errorString()));
        return nullptr;
    }
    QObject *object = component.createWithInitialProperties(properties);
    auto *window = qobject_cast<QQuickWindow *>(object);
    if (!window) {
        qCWarning(log, "%s is no window", type.toByteArray().constData());
        delete object;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    return window;
}

void centreOnPrimaryScreen(QQuickWindow &window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), window.size());
        frame.moveCenter(screen->availableGeometry().center());
        window.setPosition(frame.topLeft());
    }
}

} // namespace pelk::platform
