#pragma once

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

namespace pelk::platform {
class ColorScheme;
}

namespace pelk::app {

// Whether the views draw dark: the desktop's stated preference while it has one, otherwise a
// dark application palette.
class Appearance : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)

public:
    explicit Appearance(QObject *parent = nullptr);

    bool dark() const { return m_dark; }

    // Follows the desktop's setting from now on (the engine's singleton, once the platform is known).
    void follow(platform::ColorScheme *scheme);

Q_SIGNALS:
    void darkChanged();

private:
    void update();

    QPointer<platform::ColorScheme> m_scheme;
    bool m_dark = false;
};

} // namespace pelk::app
