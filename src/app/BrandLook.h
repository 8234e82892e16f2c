#pragma once

#include "app/ProcessValues.h"

#include <QColor>
#include <QFont>
#include <QString>

namespace pelk::app {

// Where the brand fonts ship: compiled into the executable's resources.
inline constexpr QLatin1StringView kBrandFontDirectory { ":/pelk/fonts" };

// Registers the four Hanken Grotesk faces found in directory for this process only.
// A missing or unreadable file is skipped; calling it again is harmless.
void registerBrandFonts(const QString &directory = QString(kBrandFontDirectory));

// The brand face for weight at exactly size pixels: bold, semibold and medium have their own
// faces, every other weight gets the regular one. A face that was not registered falls back
// to the default text face at the same size.
QFont pelkFont(qreal size, QFont::Weight weight = QFont::Normal);

// The brand colour as Qt sees it.
QColor brandColor(const SrgbColor &color);

} // namespace pelk::app
