#include "boundary/PrivateFile.h"

#include "platform/Files.h"

namespace pelk::boundary {

bool writePrivateFile(const QString &path, const QByteArray &bytes)
{
    return platform::replaceFilePrivately(path, bytes);
}

} // namespace pelk::boundary
