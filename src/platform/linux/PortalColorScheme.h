#pragma once

#include "platform/ColorScheme.h"

#include <QDBusVariant>

namespace pelk::platform {

// The XDG desktop portal's "color-scheme" setting on the session bus. Read without waiting: a
// missing or stuck portal must never hold up a window, it only leaves the preference unset.
class PortalColorScheme : public ColorScheme {
    Q_OBJECT
public:
    explicit PortalColorScheme(QObject *parent = nullptr);

    std::optional<bool> prefersDark() const override { return m_dark; }

private Q_SLOTS:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void take(const QVariant &value);

    std::optional<bool> m_dark;
};

} // namespace pelk::platform
