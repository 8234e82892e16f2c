#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace pelk::agent {

// A short phrase in full words telling when relative to now, in the given locale's language:
// "2 minutes ago", "in 5 seconds". The unit is the largest whole one that fits (seconds up to
// a minute, then minutes, hours, days, weeks, months, years); the count is truncated.
QString relativePhrase(const QDateTime &when, const QDateTime &now, const QLocale &locale = QLocale());

} // namespace pelk::agent
