#include "app/brand/Appearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

#include <optional>

namespace pelk::app {

using namespace Qt::StringLiterals;

namespace {

const auto kPortalService = u"org.freedesktop.portal.Desktop"_s;
const auto kPortalPath = u"/org/freedesktop/portal/desktop"_s;
const auto kSettingsInterface = u"org.freedesktop.portal.Settings"_s;
const auto kAppearanceGroup = u"org.freedesktop.appearance"_s;
const auto kColorSchemeKey = u"color-scheme"_s;

// Read() wraps the value in one variant more than the setting itself has.
std::optional<uint> colorScheme(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    return ok ? std::optional<uint>(scheme) : std::nullopt;
}

} // namespace

Appearance::Appearance(QObject *parent) : QObject(parent)
{
    m_dark = QGuiApplication::palette().color(QPalette::Window).lightness() < 128;

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // QtDBus connects to a remote signal by slot signature only.
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, u"SettingChanged"_s, this,
        SLOT(settingChanged(QString, QString, QDBusVariant)));
    // Asked without waiting: a missing or stuck portal must never hold up a window.
    QDBusMessage read = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, u"Read"_s);
    read << kAppearanceGroup << kColorSchemeKey;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (reply.isError())
            return;
        if (const std::optional<uint> scheme = colorScheme(QVariant::fromValue(reply.value())))
            setDark(prefersDark(*scheme));
    });
}

void Appearance::settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
{
    if (group != kAppearanceGroup || key != kColorSchemeKey)
        return;
    if (const std::optional<uint> scheme = colorScheme(value.variant()))
        setDark(prefersDark(*scheme));
}

void Appearance::setDark(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT darkChanged();
}

} // namespace pelk::app
