#include "platform/linux/PortalColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

const auto kPortalService = u"org.freedesktop.portal.Desktop"_s;
const auto kPortalPath = u"/org/freedesktop/portal/desktop"_s;
const auto kSettingsInterface = u"org.freedesktop.portal.Settings"_s;
const auto kAppearanceGroup = u"org.freedesktop.appearance"_s;
const auto kColorSchemeKey = u"color-scheme"_s;
// The portal's values: 0 no preference, 1 prefer dark, 2 prefer light.
constexpr uint kPreferDark = 1;
constexpr uint kPreferLight = 2;

} // namespace

PortalColorScheme::PortalColorScheme(QObject *parent) : ColorScheme(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // QtDBus connects to a remote signal by slot signature only.
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, u"SettingChanged"_s, this,
        SLOT(settingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, u"Read"_s);
    read << kAppearanceGroup << kColorSchemeKey;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (!reply.isError())
            take(QVariant::fromValue(reply.value()));
    });
}

void PortalColorScheme::settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
{
    if (group == kAppearanceGroup && key == kColorSchemeKey)
        take(value.variant());
}

// Read() wraps the value in one variant more than the setting itself has.
void PortalColorScheme::take(const QVariant &answer)
{
    QVariant value = answer;
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok)
        return;
    std::optional<bool> dark;
    if (scheme == kPreferDark || scheme == kPreferLight)
        dark = scheme == kPreferDark;
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT changed();
}

} // namespace pelk::platform
