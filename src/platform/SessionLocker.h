#pragma once

namespace pelk::platform {

// Locks the current login session at once (the session's own screen locker takes over).
class SessionLocker {
public:
    virtual ~SessionLocker() = default;
    // True once the lock was asked for; false when the lock facility cannot be reached.
    virtual bool lockSession() = 0;
};

} // namespace pelk::platform
