#pragma once

#include "platform/TerminationSignals.h"

class QSocketNotifier;

namespace pelk::platform {

// SIGTERM, SIGINT and SIGHUP, carried from their handler to the event loop through a socket
// pair (the handler only writes one byte). The default actions come back on destruction.
class UnixTerminationSignals final : public TerminationSignals {
    Q_OBJECT
public:
    explicit UnixTerminationSignals(QObject *parent = nullptr);
    ~UnixTerminationSignals() override;

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pelk::platform
