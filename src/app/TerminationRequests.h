#pragma once

#include <QObject>

class QSocketNotifier;

namespace pelk::app {

class ApplicationDelegate;

// Routes every way the system asks this process to end (SIGTERM, SIGINT, SIGHUP, the session
// manager, a quit request) through the delegate's applicationShouldTerminate on the main
// thread: refused requests are dropped, accepted ones end the event loop at once.
class TerminationRequests : public QObject {
    Q_OBJECT
public:
    explicit TerminationRequests(ApplicationDelegate &delegate, QObject *parent = nullptr);
    ~TerminationRequests() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onSignal();

    ApplicationDelegate &m_delegate;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pelk::app
