#include "app/TerminationRequests.h"

#include "app/ApplicationDelegate.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>

namespace pelk::app {

TerminationRequests::TerminationRequests(
    ApplicationDelegate &delegate, platform::TerminationSignals &termination, QObject *parent)
    : QObject(parent), m_delegate(delegate)
{
    // One decision for however many signals arrived together, taken in the quit filter below.
    QObject::connect(&termination, &platform::TerminationSignals::requested, this, [] { QCoreApplication::quit(); });

    // A logout while locked is cancelled; one while unlocked goes ahead (and its "die" then
    // arrives as a quit request, which is asked about again below).
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QObject::connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
            if (!m_delegate.applicationShouldTerminate() && manager.allowsInteraction()) {
                manager.cancel();
                manager.release();
            }
        });
    }
    QCoreApplication::instance()->installEventFilter(this);
}

TerminationRequests::~TerminationRequests()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool TerminationRequests::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != QCoreApplication::instance() || event->type() != QEvent::Quit)
        return QObject::eventFilter(watched, event);
    if (!m_delegate.applicationShouldTerminate())
        return true; // refused: the process and the lock stay
    m_delegate.applicationWillTerminate();
    QCoreApplication::exit(0);
    return true;
}

} // namespace pelk::app
