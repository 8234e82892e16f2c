#pragma once

#include "platform/InputInjector.h"
#include "platform/ScreenCapture.h"

namespace pelk::platform {

// The display a technician sees and drives: its pictures and its input, from one connection.
class RemoteDesktop : public ScreenCapture, public InputInjector { };

} // namespace pelk::platform
