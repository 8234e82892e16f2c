#include "platform/Files.h"

#include "platform/linux/UniqueFd.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelk::platform {

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes)
{
    if (path.isEmpty() || maxBytes < 0)
        return std::nullopt;
    // O_NONBLOCK keeps open() and read() of a FIFO from waiting for a writer; the
    // fstat below then rejects everything that is not a regular file.
    const QByteArray encoded = QFile::encodeName(path);
    const UniqueFd fd(::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid())
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

std::optional<FileStatus> linkStatus(const QString &path)
{
    struct stat info { };
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileStatus { S_ISREG(info.st_mode), static_cast<qint64>(info.st_size) };
}

bool isExecutable(const QString &path)
{
    return !path.isEmpty() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

bool replaceFilePrivately(const QString &path, const QByteArray &bytes)
{
    const QFileInfo target(path);
    if (path.isEmpty() || target.fileName().isEmpty())
        return false;
    // mkstemp creates the side file with O_EXCL and mode 0600, so it is private from the start
    // whatever the umask, and a name planted in a shared directory cannot be followed.
    QByteArray side = QFile::encodeName(target.absolutePath() + u"/." + target.fileName() + u".XXXXXX");
    UniqueFd fd(::mkstemp(side.data()));
    if (!fd.valid())
        return false;
    const bool written
        = ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed || ::rename(side.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(side.constData());
        return false;
    }
    return true;
}

} // namespace pelk::platform
