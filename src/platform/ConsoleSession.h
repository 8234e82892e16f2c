#pragma once

#include <QObject>

namespace pelk::platform {

// Whether this login session may be shown to someone else: the screen unlocked and the
// session the one in front of the user. Also tells when that stops being true.
class ConsoleSession : public QObject {
    Q_OBJECT
public:
    // A question the platform cannot answer counts as unlocked and on the console.
    struct Properties {
        bool screenIsLocked = false;
        bool onConsole = true;
    };

    using QObject::QObject;
    virtual Properties properties() = 0;

Q_SIGNALS:
    // The session resigned active, the displays went to sleep or the screen was locked.
    void sessionEnded();
};

} // namespace pelk::platform
