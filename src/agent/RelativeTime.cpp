#include "agent/RelativeTime.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdlib>

namespace pelk::agent {

namespace {

struct Unit {
    qint64 seconds;
    URelativeDateTimeUnit unit;
};

// Largest first; a span uses the first unit of which it holds at least one whole.
constexpr std::array<Unit, 6> kUnits { {
    { 365LL * 24 * 3600 + 6 * 3600, UDAT_REL_UNIT_YEAR },
    { (365LL * 24 * 3600 + 6 * 3600) / 12, UDAT_REL_UNIT_MONTH },
    { 7LL * 24 * 3600, UDAT_REL_UNIT_WEEK },
    { 24LL * 3600, UDAT_REL_UNIT_DAY },
    { 3600, UDAT_REL_UNIT_HOUR },
    { 60, UDAT_REL_UNIT_MINUTE },
} };

icu::Locale icuLocale(const QLocale &locale)
{
    // The C locale has no language of its own; its texts are English.
    if (locale.language() == QLocale::C)
        return icu::Locale::getEnglish();
    return icu::Locale(locale.name().toLatin1().constData());
}

} // namespace

QString relativePhrase(const QDateTime &when, const QDateTime &now, const QLocale &locale)
{
    const qint64 offset = now.secsTo(when); // negative: in the past
    const qint64 span = offset < 0 ? -offset : offset;
    double count = static_cast<double>(offset);
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const Unit &u : kUnits) {
        if (span >= u.seconds) {
            count = static_cast<double>(offset / u.seconds);
            unit = u.unit;
            break;
        }
    }

    UErrorCode status = U_ZERO_ERROR;
    const icu::RelativeDateTimeFormatter formatter(
        icuLocale(locale), nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString text;
    if (U_SUCCESS(status))
        formatter.formatNumeric(count, unit, text, status);
    if (U_FAILURE(status))
        return QString();
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace pelk::agent
