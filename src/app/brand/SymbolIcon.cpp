#include "app/brand/SymbolIcon.h"

#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace pelk::app {

using namespace Qt::StringLiterals;

SymbolIcon::SymbolIcon(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void SymbolIcon::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    m_svg.clear();
    // Names are fixed words of ours; anything else draws nothing rather than reading a path.
    static const QRegularExpression valid(u"^[a-z.]+$"_s);
    if (valid.match(name).hasMatch()) {
        QFile file(u":/pelk/icons/"_s + name + u".svg"_s);
        if (file.open(QIODevice::ReadOnly))
            m_svg = file.readAll();
    }
    Q_EMIT nameChanged();
    update();
}

void SymbolIcon::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    update();
}

void SymbolIcon::paint(QPainter *painter)
{
    if (m_svg.isEmpty())
        return;
    QByteArray svg = m_svg;
    svg.replace(QByteArrayView("currentColor"), m_color.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    painter->setOpacity(m_color.alphaF());
    renderer.render(painter, QRectF(0, 0, width(), height()));
}

} // namespace pelk::app
