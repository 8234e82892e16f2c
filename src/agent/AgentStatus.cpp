#include "agent/AgentStatus.h"

#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

namespace pelk::agent {

namespace key = boundary::key;

std::optional<AgentStatus> AgentStatus::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        AgentStatus s;
        s.phase = r.requiredString(key::kPhase);
        s.message = r.requiredString(key::kMessage);
        s.version = r.optionalString(key::kVersion);
        s.workspace = r.optionalString(key::kWorkspace);
        s.baseURL = r.optionalString(key::kBaseUrl);
        s.deviceName = r.optionalString(key::kDeviceName);
        s.deviceID = r.optionalInteger(key::kDeviceId);
        s.updatedAt = r.optionalString(key::kUpdatedAt);
        s.lastCheckin = r.optionalString(key::kLastCheckin);
        s.nextCheckinSeconds = r.optionalInteger(key::kNextCheckinSeconds);
        s.signingReady = r.optionalBool(key::kSigningReady);
        s.browserHistoryEnabled = r.optionalBool(key::kBrowserHistoryEnabled);
        s.enrolled = r.optionalBool(key::kEnrolled);
        return s;
    });
}

} // namespace pelk::agent
