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

} // namespace pelk::app
