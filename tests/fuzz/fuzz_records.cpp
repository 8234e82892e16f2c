// Feeds arbitrary bytes to every decoder of files we do not write ourselves.

#include "agent/AgentStatus.h"
#include "agent/Profile.h"
#include "agent/Timestamp.h"
#include "boundary/StrictJson.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto status = pelk::agent::AgentStatus::decode(bytes)) {
        pelk::agent::timestamp(status->updatedAt);
        pelk::agent::timestamp(status->lastCheckin);
    }
    if (const auto profile = pelk::agent::Profile::decode(bytes))
        pelk::agent::timestamp(profile->expiresAt);
    pelk::agent::timestamp(QString::fromUtf8(bytes));
    return 0;
}
