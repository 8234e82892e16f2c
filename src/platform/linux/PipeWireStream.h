#pragma once

#include <QObject>
#include <QSize>

#include <memory>
#include <optional>

namespace pelk::platform {

// A PipeWire video stream read on the main thread: the PipeWire loop's fd sits in a
// QSocketNotifier and is iterated without blocking, so no PipeWire thread touches Qt state.
// Shared-memory BGRx, BGRA and RGBx pictures are accepted; the newest one is kept (its buffer
// held back from the producer) until a newer one arrives, and can be read at any time.
class PipeWireStream : public QObject {
    Q_OBJECT
public:
    // The newest picture, 32-bit BGRX whatever the stream's own order (an RGBx stream is
    // converted when read). Valid until the next event loop pass.
    struct Picture {
        const uchar *pixels = nullptr;
        QSize size;
        int stride = 0;
        // Counts the pictures the stream delivered: the same serial is the same picture.
        quint64 serial = 0;
    };

    // fd: a connection to a PipeWire daemon handed over (this object closes it), or -1 for the
    // session's own daemon. nodeId: the node to read.
    PipeWireStream(int fd, quint32 nodeId, QObject *parent = nullptr);
    ~PipeWireStream() override;
    PipeWireStream(const PipeWireStream &) = delete;
    PipeWireStream &operator=(const PipeWireStream &) = delete;

    // False once the stream ended or failed (or never connected); then it stays false.
    bool isRunning() const;
    // The newest picture; nothing before the first one or after the stream ended.
    std::optional<Picture> picture();

Q_SIGNALS:
    // A new picture is there.
    void pictureArrived();
    // The stream ended or failed: no more pictures come. Emitted once, later than the cause.
    void ended();

private:
    // PipeWire's objects and callbacks, kept out of this header.
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pelk::platform
