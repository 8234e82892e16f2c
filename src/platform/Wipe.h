#pragma once

#include <QByteArray>
#include <QString>

namespace pelk::platform {

// Overwrites a secret in place (a store the compiler may not drop) and empties it.
void wipe(QByteArray &bytes);
void wipe(QString &text);

} // namespace pelk::platform
