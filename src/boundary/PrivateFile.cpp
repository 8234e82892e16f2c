#include "boundary/PrivateFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelk::boundary {

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

bool writePrivateFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo target(path);
    if (path.isEmpty() || target.fileName().isEmpty())
        return false;
    // mkstemp creates the side file with O_EXCL and mode 0600, so it is private from the start
    // whatever the umask, and a name planted in a shared directory cannot be followed.
    QByteArray side = QFile::encodeName(target.absolutePath() + u"/." + target.fileName() + u".XXXXXX");
    const int fd = ::mkstemp(side.data());
    if (fd < 0)
        return false;
    const bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(side.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(side.constData());
        return false;
    }
    return true;
}

} // namespace pelk::boundary
