#include "agent/AgentStatus.h"

#include "boundary/StrictJson.h"

namespace pelk::agent {

using namespace Qt::StringLiterals;

std::optional<AgentStatus> AgentStatus::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        AgentStatus s;
        s.phase = r.requiredString("phase"_L1);
        s.message = r.requiredString("message"_L1);
        s.version = r.optionalString("version"_L1);
        s.workspace = r.optionalString("workspace"_L1);
        s.baseURL = r.optionalString("base_url"_L1);
        s.deviceName = r.optionalString("device_name"_L1);
        s.deviceID = r.optionalInteger("device_id"_L1);
        s.updatedAt = r.optionalString("updated_at"_L1);
        s.lastCheckin = r.optionalString("last_checkin"_L1);
        s.nextCheckinSeconds = r.optionalInteger("next_checkin_seconds"_L1);
        s.signingReady = r.optionalBool("signing_ready"_L1);
        s.browserHistoryEnabled = r.optionalBool("browser_history_enabled"_L1);
        s.enrolled = r.optionalBool("enrolled"_L1);
        return s;
    });
}

} // namespace pelk::agent
