#pragma once

#include <QHash>
#include <QString>

namespace pelk::support {

// The technician's key names (W3C UI Events "code" values, 73 of them) and the X keysym each
// stands for on a US layout. The one key table: the input injector resolves the keysym to
// the server's keycode. Built once, never changed.
const QHash<QString, quint32> &keys();

} // namespace pelk::support
