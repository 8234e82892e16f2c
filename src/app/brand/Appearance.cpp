#include "app/brand/Appearance.h"

#include "platform/ColorScheme.h"

#include <QGuiApplication>
#include <QPalette>

namespace pelk::app {

Appearance::Appearance(QObject *parent) : QObject(parent)
{
    update();
}

void Appearance::follow(platform::ColorScheme *scheme)
{
    if (m_scheme)
        disconnect(m_scheme, nullptr, this, nullptr);
    m_scheme = scheme;
    if (scheme)
        connect(scheme, &platform::ColorScheme::changed, this, &Appearance::update);
    update();
}

void Appearance::update()
{
    const std::optional<bool> preferred = m_scheme ? m_scheme->prefersDark() : std::nullopt;
    const bool dark = preferred.value_or(QGuiApplication::palette().color(QPalette::Window).lightness() < 128);
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT darkChanged();
}

} // namespace pelk::app
