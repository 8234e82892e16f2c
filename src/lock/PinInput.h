#pragma once

#include <QString>

namespace pelk::lock {

// The most digits a PIN may have, and the fewest it is submitted with.
inline constexpr int kMaxPinLength = 12;
inline constexpr int kMinPinLength = 6;

// Keeps only the characters that are numbers in the Unicode sense (numeric type decimal,
// digit or numeric: other scripts' digits and fractions such as ½ count), in order, and at
// most the first kMaxPinLength of them. Characters are whole code points.
QString filterPin(const QString &typed);

// The number of characters (code points) in a filtered PIN.
int pinLength(const QString &pin);

// The PIN without its last character.
QString dropLastPinCharacter(const QString &pin);

} // namespace pelk::lock
