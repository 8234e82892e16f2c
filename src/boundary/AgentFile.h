#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::boundary {

// Reads a file the agent published, whole, without ever blocking or reading without bound.
// Only a regular file of at most maxBytes counts; a missing file, a directory, a FIFO, a
// device (also through a link) or anything larger is unreadable and yields nothing.
std::optional<QByteArray> readAgentFile(const QString &path, qint64 maxBytes);
std::optional<QByteArray> readAgentFile(const QString &path);

} // namespace pelk::boundary
