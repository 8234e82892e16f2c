#pragma once

#include <QString>

#include <sys/types.h>

namespace pelk::platform {

// Creates a new account's home directory inside a root tree: the directory itself (mode 0700,
// which must not exist yet) and a copy of the tree's own etc/skel, everything owned by the account.
// Never follows a symbolic link inside the new home or the skeleton.
bool createHomeDirectory(const QString &root, const QString &home, uid_t uid, gid_t gid);

} // namespace pelk::platform
