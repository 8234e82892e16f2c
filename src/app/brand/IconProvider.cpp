#include "app/brand/IconProvider.h"

#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace pelk::app {

using namespace Qt::StringLiterals;

IconProvider::IconProvider() : QQuickImageProvider(QQuickImageProvider::Image)
{
}

QImage IconProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    static const QRegularExpression pattern(u"^([a-z.]+)/([0-9a-fA-F]{6})$"_s);
    const QSize target = requestedSize.isValid() ? requestedSize.boundedTo(QSize(512, 512)) : QSize(64, 64);
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (size)
        *size = target;
    const QRegularExpressionMatch match = pattern.match(id);
    if (!match.hasMatch())
        return image;
    QFile file(u":/pelk/icons/"_s + match.captured(1) + u".svg"_s);
    if (!file.open(QIODevice::ReadOnly))
        return image;
    QByteArray svg = file.readAll();
    const QByteArray color = QByteArray("#") + match.captured(2).toLatin1();
    svg.replace(QByteArrayView("currentColor"), color);
    QSvgRenderer renderer(svg);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

} // namespace pelk::app
