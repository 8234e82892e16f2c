#pragma once

#include <QObject>

namespace pelk::platform {

// The operating system asking this process to end (on Linux: SIGTERM, SIGINT, SIGHUP),
// told on the main thread, once for however many requests arrived together.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void requested();
};

} // namespace pelk::platform
