#include "lock/LockState.h"

#include "boundary/StrictJson.h"

namespace pelk::lock {

using namespace Qt::StringLiterals;

std::optional<LockState> LockState::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        LockState s;
        s.locked = r.requiredBool("locked"_L1);
        s.commandUuid = r.requiredString("command_uuid"_L1);
        s.message = r.optionalString("message"_L1);
        s.url = r.optionalString("url"_L1);
        s.session = r.optionalString("session"_L1);
        return s;
    });
}

} // namespace pelk::lock
