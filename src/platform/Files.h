#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::platform {

// Reads a regular file whole, never more than maxBytes and never blocking: opening a FIFO does
// not wait for a writer. A link is followed; a missing file, a directory, a FIFO, a device or a
// file over maxBytes yields nothing.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes);

// What path itself is, a final symbolic link not followed; nothing when it cannot be examined.
struct FileStatus {
    bool regular = false;
    qint64 size = 0;
};
std::optional<FileStatus> linkStatus(const QString &path);

// Whether this process may execute the file at path.
bool isExecutable(const QString &path);

// Replaces the file at path with bytes in one step: a side file in the same directory, created
// owner-only (0600) from its first byte whatever the umask, filled, flushed, then renamed over
// path. False when any step fails; the side file is removed then.
bool replaceFilePrivately(const QString &path, const QByteArray &bytes);

} // namespace pelk::platform
