#pragma once

#include <QByteArray>
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

    // pixels: width x height, stride bytes per row. Nothing when the sizes are unusable or
    // the encoder fails.
    std::optional<QByteArray> encode(const uchar *pixels, int width, int height, int stride, QSize out, int quality);

private:
    void *m_compressor = nullptr;
    std::vector<uchar> m_scaled;
};

} // namespace pelk::platform
