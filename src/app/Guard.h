#pragma once

#include "platform/linux/CrashGuard.h"

#include <QByteArray>
#include <QString>

namespace pelk::app {

// What the agent's lock record tells the crash guard. A record that is missing or does not
// decode leaves the lock as it was, which the guard cannot know: it may be held.
platform::LockHint lockHint(const std::optional<QByteArray> &record);

// When to bring back an application that ended this way, or nothing to let its end stand: only
// an end by a signal (killed, crashed, aborted) while the lock may be held brings it back. At once
// after a run that lasted; after a growing pause when it dies again right after starting, so that
// an application that cannot start costs little, and is still tried as long as the lock may be held.
class RestartPolicy {
public:
    std::optional<std::chrono::milliseconds> operator()(const platform::ChildEnd &end, platform::LockHint lock);

private:
    std::chrono::milliseconds m_pause { 0 };
};

// The tray and login-window modes run through this: the guard, which starts the application as
// its child and returns its exit status.
int runGuarded(char **argv, const QString &lockFilePath);

} // namespace pelk::app
