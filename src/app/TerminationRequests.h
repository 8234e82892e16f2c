#pragma once

#include <QObject>

namespace pelk::platform {
class TerminationSignals;
}

namespace pelk::app {

class ApplicationDelegate;

// Routes every way the system asks this process to end (the platform's termination signals,
// the session manager, a quit request) through the delegate's applicationShouldTerminate on the main
// thread: refused requests are dropped, accepted ones end the event loop at once.
class TerminationRequests : public QObject {
    Q_OBJECT
public:
    TerminationRequests(
        ApplicationDelegate &delegate, platform::TerminationSignals &termination, QObject *parent = nullptr);
    ~TerminationRequests() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ApplicationDelegate &m_delegate;
};

} // namespace pelk::app
