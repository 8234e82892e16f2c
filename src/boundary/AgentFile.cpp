#include "boundary/AgentFile.h"

#include "boundary/AgentBoundary.h"
#include "platform/Files.h"

namespace pelk::boundary {

std::optional<QByteArray> readAgentFile(const QString &path, qint64 maxBytes)
{
    return platform::readRegularFile(path, maxBytes);
}

std::optional<QByteArray> readAgentFile(const QString &path)
{
    return readAgentFile(path, kMaxAgentFileBytes);
}

} // namespace pelk::boundary
