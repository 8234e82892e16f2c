#include "lock/LockLog.h"

Q_LOGGING_CATEGORY(lcLock, "pelk.lock", QtWarningMsg)
