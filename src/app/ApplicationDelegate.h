#pragma once

namespace pelk::app {

// What an event-loop mode does at the application's life-cycle moments.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // Once, after the event loop has started.
    virtual void applicationDidFinishLaunching() = 0;
    // Every request to end the process (signals, the session manager, a quit command) asks
    // this first: true ends the process at once, false cancels the request.
    virtual bool applicationShouldTerminate() = 0;
    // Right before the process ends.
    virtual void applicationWillTerminate() { }
};

} // namespace pelk::app
