#pragma once

#include <QObject>

#include <optional>

namespace pelk::platform {

// Whether the person asked the desktop for dark windows, followed as the setting changes.
class ColorScheme : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Unset while the desktop has not answered, or when it states no preference.
    virtual std::optional<bool> prefersDark() const = 0;

Q_SIGNALS:
    void changed();
};

} // namespace pelk::platform
