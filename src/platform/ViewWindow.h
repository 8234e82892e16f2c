#pragma once

#include <QByteArrayView>
#include <QVariantMap>

class QLoggingCategory;
class QQmlEngine;
class QQuickWindow;

namespace pelk::platform {

// Creates the top-level window `type` of the compiled-in view module `module` ("Pelk.Lock"),
// owned by the caller. Loading by module registers the module's C++ types before the file is
// read. Null, with the reason logged to `log`, when the view does not load or is no window.
QQuickWindow *createViewWindow(QQmlEngine &engine, QByteArrayView module, QByteArrayView type,
    const QVariantMap &properties, const QLoggingCategory &log);

// Places a window in the middle of the primary screen's free area.
void centreOnPrimaryScreen(QQuickWindow &window);

} // namespace pelk::platform
