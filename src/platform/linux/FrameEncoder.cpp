#include "platform/linux/FrameEncoder.h"

#include <turbojpeg.h>

#include <algorithm>

namespace pelk::platform {

namespace {

// Writes out.width() x out.height() BGRX pixels.
void scaleBilinear(const uchar *pixels, int width, int height, int stride, uchar *target, QSize out)
{
    const int outWidth = out.width();
    const int outHeight = out.height();
    // 16.16 fixed point, sampling at pixel centres; weights kept to 8 bits for the blend.
    std::vector<int> x0(static_cast<size_t>(outWidth));
    std::vector<int> wx(static_cast<size_t>(outWidth));
    for (int x = 0; x < outWidth; ++x) {
        const qint64 sx = ((qint64(2 * x + 1) * width << 16) / (2 * outWidth)) - (1 << 15);
        const qint64 clamped = std::clamp<qint64>(sx, 0, qint64(width - 1) << 16);
        x0[size_t(x)] = int(clamped >> 16);
        wx[size_t(x)] = int((clamped >> 8) & 0xff);
    }
    for (int y = 0; y < outHeight; ++y) {
        const qint64 sy = ((qint64(2 * y + 1) * height << 16) / (2 * outHeight)) - (1 << 15);
        const qint64 clamped = std::clamp<qint64>(sy, 0, qint64(height - 1) << 16);
        const int row = int(clamped >> 16);
        const int wy = int((clamped >> 8) & 0xff);
        const uchar *top = pixels + qint64(row) * stride;
        const uchar *bottom = pixels + qint64(std::min(row + 1, height - 1)) * stride;
        uchar *dst = target + qint64(y) * outWidth * 4;
        for (int x = 0; x < outWidth; ++x) {
            const int left = x0[size_t(x)] * 4;
            const int right = std::min(x0[size_t(x)] + 1, width - 1) * 4;
            const int fx = wx[size_t(x)];
            for (int c = 0; c < 3; ++c) {
                const int t = top[left + c] * (256 - fx) + top[right + c] * fx;
                const int b = bottom[left + c] * (256 - fx) + bottom[right + c] * fx;
                dst[c] = uchar((t * (256 - wy) + b * wy) >> 16);
            }
            dst[3] = 0xff;
            dst += 4;
        }
    }
}

} // namespace

FrameEncoder::FrameEncoder() : m_compressor(tjInitCompress())
{
}

FrameEncoder::~FrameEncoder()
{
    if (m_compressor)
        tjDestroy(m_compressor);
}

std::optional<QByteArray> FrameEncoder::encode(
    const uchar *pixels, int width, int height, int stride, QSize out, int quality)
{
    if (!m_compressor || !pixels || width <= 0 || height <= 0 || stride < width * 4 || out.isEmpty())
        return std::nullopt;
    const uchar *source = pixels;
    int sourceStride = stride;
    if (out != QSize(width, height)) {
        m_scaled.resize(size_t(out.width()) * size_t(out.height()) * 4);
        scaleBilinear(pixels, width, height, stride, m_scaled.data(), out);
        source = m_scaled.data();
        sourceStride = out.width() * 4;
    }
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(
        m_compressor, source, out.width(), sourceStride, out.height(), TJPF_BGRX, &jpeg, &size, TJSAMP_420, quality, 0);
    std::optional<QByteArray> encoded;
    if (result == 0 && jpeg && size > 0)
        encoded = QByteArray(reinterpret_cast<const char *>(jpeg), qsizetype(size));
    tjFree(jpeg);
    return encoded;
}

} // namespace pelk::platform
