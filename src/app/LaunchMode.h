#pragma once

#include <QStringList>

namespace pelk::app {

enum class LaunchMode {
    CreateRecoveryAdmin, // one-shot: read a request on stdin, create the account, exit with its status
    LockSession, // one-shot: lock the current login session, exit
    LoginWindow, // event loop: only the managed lock, above the greeter
    StatusBar, // event loop: the normal tray application
};

// Picks the mode from the whole argument list (program path included). A switch counts when
// an argument equals it exactly; order and repetition do not matter.
LaunchMode launchModeFor(const QStringList &arguments);

// True when some argument equals the switch exactly ("--background", for instance).
bool hasSwitch(const QStringList &arguments, QLatin1StringView name);

} // namespace pelk::app
