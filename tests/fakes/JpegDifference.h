#pragma once

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cstdlib>

namespace pelk::fakes {

// The largest difference of any colour channel between two decoded JPEGs (256: no match).
inline int jpegDifference(const QByteArray &a, const QByteArray &b)
{
    const QImage x = QImage::fromData(a, "JPEG").convertToFormat(QImage::Format_RGB32);
    const QImage y = QImage::fromData(b, "JPEG").convertToFormat(QImage::Format_RGB32);
    if (x.isNull() || x.size() != y.size())
        return 256;
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar *p = x.constScanLine(row);
        const uchar *q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 4; ++i)
            worst = std::max(worst, std::abs(p[i] - q[i]));
    }
    return worst;
}

} // namespace pelk::fakes
