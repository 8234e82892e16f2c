#include "platform/linux/FrameEncoder.h"

#include <turbojpeg.h>

#include <algorithm>

namespace pelk::platform {

namespace {

// For each of count target pixels, the first source pixel it reads and the weight (0-255) of
// the next one: 16.16 fixed point, sampling at pixel centres, weights kept to 8 bits.
void taps(int source, int count, std::vector<int> &first, std::vector<int> &weight)
{
    first.resize(size_t(count));
    weight.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        const qint64 s = ((qint64(2 * i + 1) * source << 16) / (2 * count)) - (1 << 15);
        const qint64 clamped = std::clamp<qint64>(s, 0, qint64(source - 1) << 16);
        first[size_t(i)] = int(clamped >> 16);
        weight[size_t(i)] = int((clamped >> 8) & 0xff);
    }
}

// The target pixels [begin, end) whose taps read any of the source pixels [low, high].
std::pair<int, int> reading(const std::vector<int> &first, int low, int high)
{
    // A pixel reads its first source pixel and the one after it.
    const auto begin = std::lower_bound(first.begin(), first.end(), low - 1);
    const auto end = std::upper_bound(begin, first.end(), high);
    return { int(begin - first.begin()), int(end - first.begin()) };
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

void FrameEncoder::prepareTaps(QSize source, QSize out)
{
    taps(source.width(), out.width(), m_x0, m_wx);
    taps(source.height(), out.height(), m_y0, m_wy);
    m_scaled.resize(size_t(out.width()) * size_t(out.height()) * 4);
    m_source = source;
    m_out = out;
}

// Writes the target rectangle of m_scaled (BGRX) from the source picture.
void FrameEncoder::scale(const uchar *pixels, int stride, const QRect &target)
{
    const int width = m_source.width();
    const int height = m_source.height();
    for (int y = target.top(); y <= target.bottom(); ++y) {
        const int row = m_y0[size_t(y)];
        const int wy = m_wy[size_t(y)];
        const uchar *top = pixels + qint64(row) * stride;
        const uchar *bottom = pixels + qint64(std::min(row + 1, height - 1)) * stride;
        uchar *dst = m_scaled.data() + (qint64(y) * m_out.width() + target.left()) * 4;
        for (int x = target.left(); x <= target.right(); ++x) {
            const int left = m_x0[size_t(x)] * 4;
            const int right = std::min(m_x0[size_t(x)] + 1, width - 1) * 4;
            const int fx = m_wx[size_t(x)];
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

std::optional<QByteArray> FrameEncoder::encode(const uchar *pixels, int width, int height, int stride, QSize out,
    int quality, const std::optional<QList<QRect>> &changed)
{
    if (!m_compressor || !pixels || width <= 0 || height <= 0 || stride < width * 4 || out.isEmpty())
        return std::nullopt;
    const uchar *source = pixels;
    int sourceStride = stride;
    const QSize size(width, height);
    if (out != size) {
        if (!changed || m_source != size || m_out != out) {
            prepareTaps(size, out);
            scale(pixels, stride, QRect(QPoint(), out));
        } else {
            for (const QRect &part : *changed) {
                const QRect inside = part.intersected(QRect(QPoint(), size));
                if (inside.isEmpty())
                    continue;
                const auto [left, right] = reading(m_x0, inside.left(), inside.right());
                const auto [top, bottom] = reading(m_y0, inside.top(), inside.bottom());
                if (left < right && top < bottom)
                    scale(pixels, stride, QRect(left, top, right - left, bottom - top));
            }
        }
        source = m_scaled.data();
        sourceStride = out.width() * 4;
    } else {
        m_out = QSize(); // m_scaled is not this picture
    }
    unsigned char *jpeg = nullptr;
    unsigned long bytes = 0;
    const int result = tjCompress2(m_compressor, source, out.width(), sourceStride, out.height(), TJPF_BGRX, &jpeg,
        &bytes, TJSAMP_420, quality, 0);
    std::optional<QByteArray> encoded;
    if (result == 0 && jpeg && bytes > 0)
        encoded = QByteArray(reinterpret_cast<const char *>(jpeg), qsizetype(bytes));
    tjFree(jpeg);
    return encoded;
}

std::optional<QByteArray> FrameEncoder::encodeNumbered(
    quint64 serial, const uchar *pixels, int width, int height, int stride, QSize out, int quality)
{
    if (m_last && m_last->serial == serial && m_last->out == out && m_last->quality == quality)
        return m_last->jpeg;
    m_last.reset();
    std::optional<QByteArray> jpeg = encode(pixels, width, height, stride, out, quality);
    if (jpeg)
        m_last = Numbered { serial, out, quality, *jpeg };
    return jpeg;
}

} // namespace pelk::platform
