#include "platform/linux/PipeWireStream.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <cstring>
#include <mutex>

namespace pelk::platform {

namespace {

// A screen is read a few times a second; more buffers only hold more memory.
constexpr int kMinBuffers = 2;
constexpr int kMaxBuffers = 8;
constexpr int kWantedBuffers = 4;

const spa_pod *videoFormats(spa_pod_builder *builder)
{
    const spa_rectangle anySize = SPA_RECTANGLE(1, 1);
    const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
    const spa_rectangle largest = SPA_RECTANGLE(16384, 16384);
    const spa_fraction noRate = SPA_FRACTION(0, 1);
    const spa_fraction defaultRate = SPA_FRACTION(30, 1);
    const spa_fraction fastest = SPA_FRACTION(240, 1);
    spa_pod_frame frame {};
    spa_pod_builder_push_object(builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
            SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &anySize, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&noRate, &noRate, &fastest),
        SPA_FORMAT_VIDEO_maxFramerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &noRate, &fastest), 0);
    return static_cast<const spa_pod *>(spa_pod_builder_pop(builder, &frame));
}

const spa_pod *sharedMemoryBuffers(spa_pod_builder *builder)
{
    spa_pod_frame frame {};
    spa_pod_builder_push_object(builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_add(builder, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(kWantedBuffers, kMinBuffers, kMaxBuffers), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)), 0);
    return static_cast<const spa_pod *>(spa_pod_builder_pop(builder, &frame));
}

} // namespace

struct PipeWireStream::Impl {
    explicit Impl(PipeWireStream *owner) : q(owner) { }

    void fail();
    void process();
    void formatChanged(const spa_pod *param);
    void requeueHeld();
    void keepLast();

    PipeWireStream *q;
    pw_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_stream *stream = nullptr;
    spa_hook coreListener {};
    spa_hook streamListener {};
    pw_core_events coreEvents {};
    pw_stream_events streamEvents {};
    QSocketNotifier *notifier = nullptr;
    bool running = false;
    bool endQueued = false;
    bool arrivalQueued = false;
    // The negotiated picture: size and whether red comes first.
    QSize size;
    bool rgb = false;
    // The newest picture's buffer, kept from the producer until a newer one arrives.
    pw_buffer *held = nullptr;
    quint64 serial = 0;
    // An RGB picture turned into BGR, for convertedSerial; or, with keptSize, a copy of the last
    // picture whose buffer went away (a new format), until the next picture comes.
    QByteArray converted;
    quint64 convertedSerial = 0;
    QSize keptSize;
};

// A new format (a new monitor mode) takes the buffers back before a picture of it comes: a
// capture in between gets the last picture again rather than none, which would end support.
void PipeWireStream::Impl::keepLast()
{
    const auto last = held ? q->picture() : std::nullopt;
    if (!last)
        return;
    const qsizetype row = qsizetype(last->size.width()) * 4;
    if (last->pixels != reinterpret_cast<const uchar *>(converted.constData())) {
        QByteArray copy(row * last->size.height(), Qt::Uninitialized);
        for (int y = 0; y < last->size.height(); ++y)
            std::memcpy(copy.data() + y * row, last->pixels + qint64(y) * last->stride, size_t(row));
        converted = std::move(copy);
    }
    convertedSerial = serial;
    keptSize = last->size;
}

void PipeWireStream::Impl::requeueHeld()
{
    if (held && stream)
        pw_stream_queue_buffer(stream, held);
    held = nullptr;
}

void PipeWireStream::Impl::fail()
{
    running = false;
    requeueHeld();
    // A connection that hung up would keep its fd readable for nothing.
    if (notifier)
        notifier->setEnabled(false);
    if (endQueued)
        return;
    endQueued = true;
    // Queued: the cause is reported from inside PipeWire's loop, which the receiver might end.
    QMetaObject::invokeMethod(
        q, [self = q] { Q_EMIT self->ended(); }, Qt::QueuedConnection);
}

void PipeWireStream::Impl::formatChanged(const spa_pod *param)
{
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    spa_video_info_raw info {};
    if (!param || spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
        || mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0) {
        return;
    }
    keepLast();
    requeueHeld();
    size = QSize(int(info.size.width), int(info.size.height));
    rgb = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA;
    uint8_t storage[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod *params[] = { sharedMemoryBuffers(&builder) };
    pw_stream_update_params(stream, params, 1);
}

void PipeWireStream::Impl::process()
{
    // Only the newest of what waits counts; the rest go straight back.
    pw_buffer *newest = nullptr;
    while (pw_buffer *buffer = pw_stream_dequeue_buffer(stream)) {
        if (newest)
            pw_stream_queue_buffer(stream, newest);
        newest = buffer;
    }
    if (!newest)
        return;
    const spa_buffer *buffer = newest->buffer;
    const spa_data *data = buffer->n_datas > 0 ? &buffer->datas[0] : nullptr;
    const qint64 stride = data && data->chunk->stride > 0 ? data->chunk->stride : qint64(size.width()) * 4;
    const bool whole = data && data->data && data->chunk->size > 0 && !(data->chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)
        && !size.isEmpty() && stride >= qint64(size.width()) * 4
        && qint64(data->chunk->offset) + stride * size.height() <= data->maxsize;
    if (!whole) {
        // A buffer with no picture in it (metadata only, or not mapped): the last picture stays.
        pw_stream_queue_buffer(stream, newest);
        return;
    }
    requeueHeld();
    held = newest;
    keptSize = QSize();
    ++serial;
    if (arrivalQueued)
        return;
    arrivalQueued = true;
    QMetaObject::invokeMethod(
        q,
        [self = q] {
            self->d->arrivalQueued = false;
            Q_EMIT self->pictureArrived();
        },
        Qt::QueuedConnection);
}

PipeWireStream::PipeWireStream(int fd, quint32 nodeId, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(this))
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    d->loop = pw_loop_new(nullptr);
    d->context = d->loop ? pw_context_new(d->loop, nullptr, 0) : nullptr;
    if (d->context)
        d->core
            = fd >= 0 ? pw_context_connect_fd(d->context, fd, nullptr, 0) : pw_context_connect(d->context, nullptr, 0);
    else if (fd >= 0)
        ::close(fd);
    if (!d->core) {
        d->fail();
        return;
    }
    pw_loop_enter(d->loop);
    d->coreEvents.version = PW_VERSION_CORE_EVENTS;
    d->coreEvents.error = [](void *data, uint32_t id, int, int, const char *) {
        // An error about the connection itself (the daemon gone) ends everything.
        if (id == PW_ID_CORE)
            static_cast<Impl *>(data)->fail();
    };
    pw_core_add_listener(d->core, &d->coreListener, &d->coreEvents, d.get());

    d->stream = pw_stream_new(d->core, "pelk-screen",
        pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!d->stream) {
        d->fail();
        return;
    }
    d->streamEvents.version = PW_VERSION_STREAM_EVENTS;
    d->streamEvents.state_changed = [](void *data, pw_stream_state, pw_stream_state state, const char *) {
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            static_cast<Impl *>(data)->fail();
    };
    d->streamEvents.param_changed = [](void *data, uint32_t id, const spa_pod *param) {
        if (id == SPA_PARAM_Format)
            static_cast<Impl *>(data)->formatChanged(param);
    };
    d->streamEvents.remove_buffer = [](void *data, pw_buffer *buffer) {
        // The format cleared: the held buffer goes without being given back.
        auto *impl = static_cast<Impl *>(data);
        if (buffer == impl->held) {
            impl->keepLast();
            impl->held = nullptr;
        }
    };
    d->streamEvents.process = [](void *data) { static_cast<Impl *>(data)->process(); };
    pw_stream_add_listener(d->stream, &d->streamListener, &d->streamEvents, d.get());

    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod *params[] = { videoFormats(&builder) };
    d->running = true;
    if (pw_stream_connect(d->stream, PW_DIRECTION_INPUT, nodeId,
            pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1)
        < 0) {
        d->fail();
        return;
    }
    d->notifier = new QSocketNotifier(pw_loop_get_fd(d->loop), QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] { pw_loop_iterate(d->loop, 0); });
    // What the connection already queued is read now rather than on the next wakeup.
    QMetaObject::invokeMethod(
        this, [this] { pw_loop_iterate(d->loop, 0); }, Qt::QueuedConnection);
}

PipeWireStream::~PipeWireStream()
{
    delete d->notifier;
    d->requeueHeld();
    if (d->stream) {
        // Destroying reports a last state change, which must not reach this half-gone object.
        spa_hook_remove(&d->streamListener);
        pw_stream_destroy(d->stream);
    }
    if (d->core)
        spa_hook_remove(&d->coreListener);
    if (d->core)
        pw_core_disconnect(d->core);
    if (d->context)
        pw_context_destroy(d->context);
    if (d->loop) {
        if (d->core)
            pw_loop_leave(d->loop);
        pw_loop_destroy(d->loop);
    }
}

bool PipeWireStream::isRunning() const
{
    return d->running;
}

std::optional<PipeWireStream::Picture> PipeWireStream::picture()
{
    if (!d->running)
        return std::nullopt;
    if (!d->held && d->keptSize.isEmpty())
        return std::nullopt;
    if (!d->held)
        return Picture { reinterpret_cast<const uchar *>(d->converted.constData()), d->keptSize,
            d->keptSize.width() * 4, d->serial };
    const spa_data &data = d->held->buffer->datas[0];
    const int stride = data.chunk->stride > 0 ? data.chunk->stride : d->size.width() * 4;
    const uchar *pixels = static_cast<const uchar *>(data.data) + data.chunk->offset;
    if (!d->rgb)
        return Picture { pixels, d->size, stride, d->serial };
    if (d->convertedSerial != d->serial) {
        const int row = d->size.width() * 4;
        d->converted.resize(qsizetype(row) * d->size.height());
        uchar *out = reinterpret_cast<uchar *>(d->converted.data());
        for (int y = 0; y < d->size.height(); ++y) {
            const uchar *in = pixels + qint64(y) * stride;
            for (int x = 0; x < row; x += 4, out += 4) {
                out[0] = in[x + 2];
                out[1] = in[x + 1];
                out[2] = in[x];
                out[3] = 0xff;
            }
        }
        d->convertedSerial = d->serial;
    }
    return Picture { reinterpret_cast<const uchar *>(d->converted.constData()), d->size, d->size.width() * 4,
        d->serial };
}

} // namespace pelk::platform
