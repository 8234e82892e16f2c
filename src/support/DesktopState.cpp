#include "support/DesktopState.h"

#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

namespace pelk::support {

namespace key = boundary::key;

std::optional<DesktopState> DesktopState::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        DesktopState s;
        s.url = r.requiredString(key::kUrl);
        s.session = r.requiredString(key::kSession);
        s.support = r.optionalRecord(key::kSupport, [](json::StrictReader &o) {
            Offer offer;
            offer.sessionID = o.requiredString(key::kSessionId);
            offer.technician = o.requiredString(key::kTechnician);
            offer.mode = o.requiredString(key::kMode);
            offer.expiresAt = o.requiredInteger(key::kExpiresAt);
            return offer;
        });
        s.restart = r.optionalRecord(key::kRestart, [](json::StrictReader &o) {
            Restart notice;
            notice.id = o.requiredString(key::kId);
            notice.application = o.requiredString(key::kApplication);
            return notice;
        });
        return s;
    });
}

} // namespace pelk::support
