#pragma once

#include "app/LaunchMode.h"
#include "app/ProcessValues.h"

namespace pelk::platform {
class Platform;
}

namespace pelk::app {

// Creates the application object and runs the event loop of an event-loop mode
// (LoginWindow or StatusBar) until the application stops; returns the exit status.
int runEventLoop(LaunchMode mode, const ProcessValues &values, platform::Platform &platform, int &argc, char **argv);

// The exit status of a background start that found a copy already running in the session: the
// systemd user unit does not restart on it, so the unit and the autostart entry never loop.
inline constexpr int kAlreadyRunningStatus = 2;

} // namespace pelk::app
