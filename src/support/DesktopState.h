#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::support {

// A support session the agent announces in the desktop state file.
struct Offer {
    QString sessionID;
    QString technician;
    QString mode; // "control" asks for control; anything else is view only
    qint64 expiresAt = 0; // Unix seconds

    bool operator==(const Offer &) const = default;
};

// A restart notice the agent wants the user to see once.
struct Restart {
    QString id;
    QString application;

    bool operator==(const Restart &) const = default;
};

// The desktop state file, decoded strictly: a wrong type anywhere, nested records included,
// makes the whole file unreadable.
struct DesktopState {
    QString url;
    QString session;
    std::optional<Offer> support;
    std::optional<Restart> restart;

    static std::optional<DesktopState> decode(const QByteArray &bytes);
};

} // namespace pelk::support
