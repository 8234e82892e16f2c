#include "lock/PinInput.h"

#include <QList>

#include <unicode/uchar.h>

namespace pelk::lock {

namespace {

bool isNumber(uint codePoint)
{
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

} // namespace

QString filterPin(const QString &typed)
{
    QList<char32_t> kept;
    // Unpaired surrogates come back as U+FFFD, which is no number.
    for (const uint c : typed.toUcs4()) {
        if (kept.size() == kMaxPinLength)
            break;
        if (isNumber(c))
            kept.append(static_cast<char32_t>(c));
    }
    return QString::fromUcs4(kept.constData(), kept.size());
}

int pinLength(const QString &pin)
{
    return static_cast<int>(pin.toUcs4().size());
}

QString dropLastPinCharacter(const QString &pin)
{
    if (pin.isEmpty())
        return pin;
    qsizetype cut = pin.size() - 1;
    if (cut > 0 && pin[cut].isLowSurrogate() && pin[cut - 1].isHighSurrogate())
        --cut;
    return pin.left(cut);
}

} // namespace pelk::lock
