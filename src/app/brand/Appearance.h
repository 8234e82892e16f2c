#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <QDBusVariant>

namespace pelk::app {

// Whether the desktop asks for dark windows: the XDG desktop portal's colour-scheme setting
// (followed as it changes) where a portal answers, otherwise a dark application palette.
class Appearance : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)

public:
    explicit Appearance(QObject *parent = nullptr);

    bool dark() const { return m_dark; }

    // The portal's "color-scheme" value: 1 means the person prefers dark.
    static bool prefersDark(uint colorScheme) { return colorScheme == 1; }

Q_SIGNALS:
    void darkChanged();

private Q_SLOTS:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void setDark(bool dark);

    bool m_dark = false;
};

} // namespace pelk::app
