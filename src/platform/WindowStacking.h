#pragma once

class QWindow;

namespace pelk::platform {

// Asks the desktop to keep a window in view: on every workspace, above ordinary windows.
class WindowStacking {
public:
    virtual ~WindowStacking() = default;
    virtual void keepInView(QWindow &window) = 0;
};

} // namespace pelk::platform
