#pragma once

#include <QLoggingCategory>

// Messages of this folder, filtered as "pelk.support" (QT_LOGGING_RULES).
Q_DECLARE_LOGGING_CATEGORY(lcSupport)
