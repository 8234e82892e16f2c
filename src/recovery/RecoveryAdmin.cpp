#include "recovery/RecoveryAdmin.h"

#include "platform/linux/ShadowDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"

#include <QByteArray>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <string.h>
#include <unistd.h>

namespace pelk::recovery {

namespace {

// The agent writes its request and closes the stream at once; a writer that stalls longer than
// this is not going to finish, and the mode must not hang waiting for it.
constexpr std::chrono::milliseconds kInputTimeout { 30000 };

// Reads fd to its end, but never more than maxBytes and never beyond the time limit.
std::optional<QByteArray> readToEnd(int fd, qsizetype maxBytes)
{
    QByteArray bytes(maxBytes, Qt::Uninitialized);
    qsizetype filled = 0;
    // A request cut short still holds part of a password.
    const auto fail = [&bytes] {
        explicit_bzero(bytes.data(), size_t(bytes.size()));
        return std::optional<QByteArray>();
    };
    const auto deadline = std::chrono::steady_clock::now() + kInputTimeout;
    while (filled < maxBytes) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p { fd, POLLIN, 0 };
        const int ready = left.count() > 0 ? ::poll(&p, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return fail();
        const ssize_t n = ::read(fd, bytes.data() + filled, size_t(maxBytes - filled));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return fail();
        }
        filled += n;
    }
    bytes.truncate(filled);
    return bytes;
}

} // namespace

std::optional<QByteArray> readStandardInput(qsizetype maxBytes)
{
    return readToEnd(STDIN_FILENO, maxBytes);
}

int createRecoveryAdmin()
{
    platform::ShadowDirectoryService directory;
    RecoveryAdminCreator creator(
        readStandardInput, [] { return uint(::geteuid()); }, directory);
    return creator.run();
}

} // namespace pelk::recovery
