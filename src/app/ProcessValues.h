#pragma once

#include <QString>

namespace pelk::app {

// A colour as sRGB fractions, kept as written rather than as bytes.
struct SrgbColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double opacity = 1;
};

// The values every mode reads, set once by main before it looks at any switch.
struct ProcessValues {
    SrgbColor terracotta;

    static ProcessValues standard();
};

} // namespace pelk::app
