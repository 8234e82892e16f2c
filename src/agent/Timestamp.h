#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace pelk::agent {

// Parses an internet date-time (RFC 3339): "YYYY-MM-DDTHH:MM:SS", then an optional fraction
// of a second after a point, then "Z" or a "+hh:mm"/"-hh:mm" offset. Nothing else is accepted
// (no space for T, no lower-case letters, no missing seconds, no basic form). The result is an
// instant in UTC with millisecond precision.
std::optional<QDateTime> timestamp(const std::optional<QString> &text);

} // namespace pelk::agent
