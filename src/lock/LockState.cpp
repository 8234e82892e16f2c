#include "lock/LockState.h"

#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

namespace pelk::lock {

namespace key = boundary::key;

std::optional<LockState> LockState::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        LockState s;
        s.locked = r.requiredBool(key::kLocked);
        s.commandUuid = r.requiredString(key::kCommandUuid);
        s.message = r.optionalString(key::kMessage);
        s.url = r.optionalString(key::kUrl);
        s.session = r.optionalString(key::kSession);
        return s;
    });
}

} // namespace pelk::lock
