#pragma once

#include "platform/InputInjector.h"

#include <QHash>
#include <QString>

namespace pelk::support {

// The technician's key names (W3C UI Events "code" values, 73 of them): each names a key by
// its place on the keyboard, so it is given as the Linux key code of that place, with the
// keysym it types on a US layout for displays that number their keys otherwise. The one key
// table. Built once, never changed.
const QHash<QString, platform::InputInjector::Key> &keys();

} // namespace pelk::support
