#include "agent/Profile.h"

#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

namespace pelk::agent {

namespace key = boundary::key;

std::optional<Profile> Profile::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        Profile p;
        p.format = r.requiredString(key::kFormat);
        p.version = r.requiredInteger(key::kVersion);
        p.baseURL = r.requiredString(key::kBaseUrl);
        p.workspace = r.requiredString(key::kWorkspace);
        p.deviceName = r.requiredString(key::kDeviceName);
        p.deviceID = r.requiredInteger(key::kDeviceId);
        p.platform = r.requiredString(key::kPlatform);
        p.role = r.requiredString(key::kRole);
        p.enrollmentToken = r.requiredString(key::kEnrollmentToken);
        p.expiresAt = r.requiredString(key::kExpiresAt);
        return p;
    });
}

} // namespace pelk::agent
