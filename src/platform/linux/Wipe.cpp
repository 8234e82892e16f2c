#include "platform/Wipe.h"

#include <string.h>

namespace pelk::platform {

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        explicit_bzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

void wipe(QString &text)
{
    if (!text.isEmpty())
        explicit_bzero(text.data(), size_t(text.size()) * sizeof(QChar));
    text.clear();
}

} // namespace pelk::platform
