#pragma once

#include <QQuickImageProvider>

namespace pelk::app {

// Serves the shipped symbol icons in any colour: "image://pelkicon/<name>/<rrggbb>".
class IconProvider : public QQuickImageProvider {
public:
    IconProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};

} // namespace pelk::app
