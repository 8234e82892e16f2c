#include "support/SupportLog.h"

Q_LOGGING_CATEGORY(lcSupport, "pelk.support", QtWarningMsg)
