#include "agent/Profile.h"

#include "boundary/StrictJson.h"

namespace pelk::agent {

using namespace Qt::StringLiterals;

std::optional<Profile> Profile::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        Profile p;
        p.format = r.requiredString("format"_L1);
        p.version = r.requiredInteger("version"_L1);
        p.baseURL = r.requiredString("base_url"_L1);
        p.workspace = r.requiredString("workspace"_L1);
        p.deviceName = r.requiredString("device_name"_L1);
        p.deviceID = r.requiredInteger("device_id"_L1);
        p.platform = r.requiredString("platform"_L1);
        p.role = r.requiredString("role"_L1);
        p.enrollmentToken = r.requiredString("enrollment_token"_L1);
        p.expiresAt = r.requiredString("expires_at"_L1);
        return p;
    });
}

} // namespace pelk::agent
