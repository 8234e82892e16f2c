#pragma once

#include <QByteArray>
#include <QString>

namespace pelk::boundary {

// Replaces the file at path with bytes in one step: a side file in the same directory,
// created owner-only (0600) from its first byte, filled, flushed, then renamed over path.
// Readers see the old file or the new one, never a partial one, and nobody but the owner
// can read the new content at any moment. False when any step fails; nothing is left behind
// then except a file that was already in place.
bool writePrivateFile(const QString &path, const QByteArray &bytes);

} // namespace pelk::boundary
