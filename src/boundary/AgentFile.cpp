#include "boundary/AgentFile.h"

#include "boundary/AgentBoundary.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelk::boundary {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

std::optional<QByteArray> readAgentFile(const QString &path, qint64 maxBytes)
{
    if (path.isEmpty() || maxBytes < 0)
        return std::nullopt;
    // O_NONBLOCK keeps open() and read() of a FIFO from waiting for a writer; the
    // fstat below then rejects everything that is not a regular file.
    const QByteArray encoded = QFile::encodeName(path);
    FileDescriptor fd(::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes)
        return std::nullopt;

    // The file may change between fstat and read: start with its reported size and grow,
    // but never read more than maxBytes + 1.
    const qsizetype limit = static_cast<qsizetype>(maxBytes) + 1;
    QByteArray data;
    data.resize(std::min<qsizetype>(static_cast<qsizetype>(info.st_size) + 1, limit));
    qsizetype total = 0;
    for (;;) {
        if (total == data.size()) {
            if (data.size() >= limit)
                break;
            data.resize(std::min<qsizetype>(data.size() * 2, limit));
        }
        const ssize_t n = ::read(fd.get(), data.data() + total, static_cast<size_t>(data.size() - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        total += n;
    }
    if (total > maxBytes)
        return std::nullopt;
    data.truncate(total);
    return data;
}

std::optional<QByteArray> readAgentFile(const QString &path)
{
    return readAgentFile(path, kMaxAgentFileBytes);
}

} // namespace pelk::boundary
