#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QSize>

#include <optional>
#include <vector>

namespace pelk::platform {

// Turns a 32-bit BGRX picture into a smaller JPEG: a bilinear scale into a buffer kept from
// frame to frame, then TurboJPEG with 4:2:0 chroma. Not thread-safe; one per capturer.
class FrameEncoder {
public:
    FrameEncoder();
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder &) = delete;
    FrameEncoder &operator=(const FrameEncoder &) = delete;

    // pixels: width x height, stride bytes per row. changed: the parts of the picture that may
    // differ from the one passed last time; nothing means all of it (a new size always scales
    // all of it). Nothing when the sizes are unusable or the encoder fails.
    std::optional<QByteArray> encode(const uchar *pixels, int width, int height, int stride, QSize out, int quality,
        const std::optional<QList<QRect>> &changed = std::nullopt);

    // As encode, for a stream's numbered pictures: the same picture at the same size and quality
    // gives the last JPEG again rather than encoding it again.
    std::optional<QByteArray> encodeNumbered(
        quint64 serial, const uchar *pixels, int width, int height, int stride, QSize out, int quality);
    // A new stream numbers its pictures afresh: nothing of the last one is sent again.
    void forgetLast() { m_last.reset(); }

private:
    void prepareTaps(QSize source, QSize out);
    void scale(const uchar *pixels, int stride, const QRect &target);

    void *m_compressor = nullptr;
    std::vector<uchar> m_scaled;
    // What m_scaled was last scaled from and to, and the source taps for that pair.
    QSize m_source;
    QSize m_out;
    std::vector<int> m_x0, m_wx, m_y0, m_wy;
    struct Numbered {
        quint64 serial = 0;
        QSize out;
        int quality = 0;
        QByteArray jpeg;
    };
    std::optional<Numbered> m_last;
};

} // namespace pelk::platform
