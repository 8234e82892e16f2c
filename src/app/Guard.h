#pragma once

#include <QString>

namespace pelk::app {

// The tray and login-window modes run through this: the crash guard, which starts the
// application as its child, brings it back should it be killed while the lock may be held, and
// returns its exit status.
int runGuarded(char **argv, const QString &lockFilePath);

} // namespace pelk::app
