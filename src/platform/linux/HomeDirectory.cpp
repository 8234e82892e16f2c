#include "platform/linux/HomeDirectory.h"
#include "platform/linux/UniqueFd.h"

#include <QByteArray>
#include <QDir>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

// A skeleton deeper than this is not a skeleton anyone meant.
constexpr int kMaxSkelDepth = 16;

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool copyFile(int srcDir, int dstDir, const char *name, const struct stat &st, uid_t uid, gid_t gid)
{
    const UniqueFd in(::openat(srcDir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const UniqueFd out(::openat(dstDir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!in.valid() || !out.valid())
        return false;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(out.get(), buffer + written, size_t(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += w;
        }
    }
    return ::fchown(out.get(), uid, gid) == 0 && ::fchmod(out.get(), st.st_mode & 0777) == 0;
}

bool copyTree(int srcDir, int dstDir, uid_t uid, gid_t gid, int depth)
{
    if (depth > kMaxSkelDepth)
        return false;
    const int listFd = ::dup(srcDir);
    if (listFd < 0)
        return false;
    DIR *listing = ::fdopendir(listFd);
    if (!listing) {
        ::close(listFd);
        return false;
    }
    bool ok = true;
    while (ok) {
        errno = 0;
        const dirent *entry = ::readdir(listing);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        const char *name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        struct stat st;
        if (::fstatat(srcDir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
        } else if (S_ISDIR(st.st_mode)) {
            ok = ::mkdirat(dstDir, name, 0700) == 0;
            const UniqueFd from(ok ? ::openat(srcDir, name, kDirFlags) : -1);
            const UniqueFd to(ok ? ::openat(dstDir, name, kDirFlags) : -1);
            ok = ok && from.valid() && to.valid() && copyTree(from.get(), to.get(), uid, gid, depth + 1)
                && ::fchown(to.get(), uid, gid) == 0 && ::fchmod(to.get(), st.st_mode & 0777) == 0;
        } else if (S_ISREG(st.st_mode)) {
            ok = copyFile(srcDir, dstDir, name, st, uid, gid);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlinkat(srcDir, name, target, sizeof target - 1);
            if (n >= 0)
                target[n] = '\0';
            ok = n >= 0 && ::symlinkat(target, dstDir, name) == 0
                && ::fchownat(dstDir, name, uid, gid, AT_SYMLINK_NOFOLLOW) == 0;
        }
        // Devices, sockets and pipes have no place in a home directory: skipped.
    }
    ::closedir(listing);
    return ok;
}

} // namespace

bool createHomeDirectory(const QString &root, const QString &home, uid_t uid, gid_t gid)
{
    const QString cleanHome = QDir::cleanPath(home);
    if (!cleanHome.startsWith(u'/') || cleanHome == "/"_L1 || cleanHome.contains("/../"_L1))
        return false;
    const qsizetype slash = cleanHome.lastIndexOf(u'/');
    const QString parent = QDir::cleanPath(root + u'/' + cleanHome.left(slash));
    const QByteArray leaf = QFile::encodeName(cleanHome.mid(slash + 1));

    // The parent (/home) is the system's own; create it as useradd would when it is missing.
    if (!QDir().mkpath(parent))
        return false;
    const UniqueFd parentFd(::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.valid() || ::mkdirat(parentFd.get(), leaf.constData(), 0700) != 0)
        return false;
    const UniqueFd homeFd(::openat(parentFd.get(), leaf.constData(), kDirFlags));
    if (!homeFd.valid() || ::fchown(homeFd.get(), uid, gid) != 0 || ::fchmod(homeFd.get(), 0700) != 0)
        return false;

    const QByteArray skel = QFile::encodeName(QDir::cleanPath(root + "/etc/skel"_L1));
    const UniqueFd skelFd(::open(skel.constData(), kDirFlags));
    if (!skelFd.valid())
        return errno == ENOENT; // no skeleton: an empty home
    return copyTree(skelFd.get(), homeFd.get(), uid, gid, 0);
}

} // namespace pelk::platform
