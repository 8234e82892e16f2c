#pragma once

#include "platform/WindowStacking.h"

namespace pelk::platform {

// Asks an EWMH window manager through the application's X connection; off X11 there is
// nothing to ask.
class EwmhWindowStacking final : public WindowStacking {
public:
    void keepInView(QWindow &window) override;
};

} // namespace pelk::platform
