#pragma once

#include <QLoggingCategory>

// Messages of this folder, filtered as "pelk.lock" (QT_LOGGING_RULES).
Q_DECLARE_LOGGING_CATEGORY(lcLock)
