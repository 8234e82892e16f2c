#pragma once

#include <QDateTime>

namespace pelk::platform {

// The wall clock, injected so that time rules can be tested without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The real wall clock, in UTC.
class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

} // namespace pelk::platform
