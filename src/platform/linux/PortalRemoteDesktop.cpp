#include "platform/linux/PortalRemoteDesktop.h"

#include "platform/Files.h"
#include "platform/linux/ModifiedKey.h"
#include "platform/linux/PipeWireStream.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

// Tokens are UUIDs; anything much longer is not one.
constexpr qint64 kMaxTokenBytes = 1024;
constexpr uint kPressed = 1;
constexpr uint kReleased = 0;
constexpr uint kVerticalAxis = 0;

class PipeWireFrames : public PortalFrames {
public:
    PipeWireFrames(int fd, quint32 node, const std::function<void()> &changed) : m_stream(fd, node)
    {
        QObject::connect(&m_stream, &PipeWireStream::pictureArrived, &m_stream, changed);
        QObject::connect(&m_stream, &PipeWireStream::ended, &m_stream, changed);
    }
    bool running() override { return m_stream.isRunning(); }
    std::optional<Picture> latest() override
    {
        const auto picture = m_stream.picture();
        if (!picture)
            return std::nullopt;
        return Picture { picture->pixels, picture->size.width(), picture->size.height(), picture->stride,
            picture->serial };
    }

private:
    PipeWireStream m_stream;
};

} // namespace

std::unique_ptr<PortalFrames> openPipeWireFrames(int fd, quint32 node, std::function<void()> changed)
{
    return std::make_unique<PipeWireFrames>(fd, node, changed);
}

PortalRemoteDesktop::PortalRemoteDesktop(
    const QDBusConnection &bus, QString tokenPath, PortalFramesFactory openFrames, QObject *parent)
    : QObject(parent), m_bus(bus), m_tokenPath(std::move(tokenPath)), m_openFrames(std::move(openFrames))
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_session && !m_stream)
            return; // the user is still at the portal's dialog, which has its own time limit
        end(false);
        m_revoked = false;
    });
    PortalSession::probe(m_bus, this, [this](std::optional<PortalSession::Offer> offer) { m_offer = offer; });
}

PortalRemoteDesktop::~PortalRemoteDesktop() = default;

bool PortalRemoteDesktop::isShareableSession()
{
    return m_offer.has_value();
}

PortalSession *PortalRemoteDesktop::live()
{
    if (m_stream && m_frames && !m_frames->running())
        end(true);
    return m_stream ? m_session.get() : nullptr;
}

bool PortalRemoteDesktop::capturePermitted()
{
    live();
    return m_offer && !m_revoked;
}

bool PortalRemoteDesktop::controlPermitted()
{
    // A session comes with keyboard and pointer or not at all.
    return capturePermitted();
}

std::optional<QRect> PortalRemoteDesktop::mainDisplayBounds()
{
    return live() ? std::optional<QRect>(m_stream->area) : std::nullopt;
}

void PortalRemoteDesktop::findMainDisplay(std::function<void(std::optional<MainDisplay>)> done)
{
    m_idle.start();
    if (!m_offer || (live() && m_waiting.empty())) {
        const auto display = m_stream ? std::optional(MainDisplay { m_stream->node, m_stream->area }) : std::nullopt;
        QTimer::singleShot(0, this, [done = std::move(done), display] { done(display); });
        return;
    }
    m_waiting.push_back(std::move(done));
    if (m_session)
        return;
    m_revoked = false;
    m_session = std::make_unique<PortalSession>(m_bus, this);
    PortalSession *session = m_session.get();
    connect(session, &PortalSession::restoreTokenChanged, this, &PortalRemoteDesktop::keepToken);
    connect(session, &PortalSession::closed, this, [this, session] {
        if (m_session.get() == session)
            end(m_waiting.empty()); // as the stream ending does
    });
    const std::optional<QByteArray> token = readRegularFile(m_tokenPath, kMaxTokenBytes);
    session->start(token ? QString::fromUtf8(*token).trimmed() : QString(), *m_offer,
        [this](std::optional<PortalSession::Started> started) { this->started(std::move(started)); });
}

void PortalRemoteDesktop::started(std::optional<PortalSession::Started> started)
{
    if (started) {
        // The frames take a descriptor of their own; the reply's copy closes with it.
        const int fd = ::fcntl(started->pipeWire.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
        started->pipeWire = {};
        if (fd >= 0 && m_openFrames)
            m_frames = m_openFrames(fd, started->node, [this] { framesChanged(); });
        else if (fd >= 0)
            ::close(fd);
    }
    if (!m_frames) {
        end(false);
        return;
    }
    // Found once its first picture comes.
    m_stream = std::move(started);
    m_idle.start();
}

void PortalRemoteDesktop::framesChanged()
{
    if (!m_frames || !m_stream)
        return;
    if (!m_frames->running())
        end(m_waiting.empty()); // a display that was never handed out withdraws nothing
    else if (const auto first = m_waiting.empty() ? std::nullopt : m_frames->latest()) {
        const QRect &area = m_stream->area;
        m_scale = QSizeF(area.width() / double(first->width), area.height() / double(first->height));
        answer(MainDisplay { m_stream->node, area });
    }
}

void PortalRemoteDesktop::follow(const PortalFrames::Picture &picture)
{
    const QSize size(qRound(picture.width * m_scale.width()), qRound(picture.height * m_scale.height()));
    if (!size.isEmpty())
        m_stream->area.setSize(size);
}

void PortalRemoteDesktop::answer(std::optional<MainDisplay> display)
{
    for (auto &done : std::exchange(m_waiting, {}))
        QTimer::singleShot(0, this, [done = std::move(done), display] { done(display); });
}

void PortalRemoteDesktop::end(bool revoked)
{
    m_revoked = m_revoked || revoked;
    m_stream.reset();
    m_encoder.forgetLast();
    // Possibly inside its own call of changed.
    QTimer::singleShot(0, this, [frames = std::shared_ptr<PortalFrames>(std::move(m_frames))] {});
    if (m_session)
        m_session.release()->deleteLater();
    answer(std::nullopt);
}

void PortalRemoteDesktop::keepToken(const QString &token)
{
    if (token.isEmpty()) {
        QFile::remove(m_tokenPath);
        return;
    }
    const QString directory = QFileInfo(m_tokenPath).absolutePath();
    if (!QFileInfo::exists(directory) && QDir().mkpath(directory))
        QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    replaceFilePrivately(m_tokenPath, token.toUtf8());
}

void PortalRemoteDesktop::captureJpeg(
    const MainDisplay &, QSize size, int quality, std::function<void(std::optional<QByteArray>)> done)
{
    m_idle.start();
    std::optional<QByteArray> jpeg;
    if (const auto picture = live() && m_waiting.empty() ? m_frames->latest() : std::nullopt) {
        jpeg = m_encoder.encodeNumbered(
            picture->serial, picture->pixels, picture->width, picture->height, picture->stride, size, quality);
        follow(*picture);
    }
    QTimer::singleShot(0, this, [done = std::move(done), jpeg = std::move(jpeg)] { done(jpeg); });
}

bool PortalRemoteDesktop::postMouse(MouseEvent kind, QPointF at, int clickState, Button button)
{
    // The compositor counts double clicks itself from the timing of the presses.
    Q_UNUSED(clickState);
    Q_UNUSED(button);
    m_idle.start();
    PortalSession *session = live();
    if (!session)
        return false;
    // The stream's own coordinates, from its corner and inside it.
    const QRect &area = m_stream->area;
    const double x = std::clamp(at.x() - area.x(), 0.0, double(area.width() - 1));
    const double y = std::clamp(at.y() - area.y(), 0.0, double(area.height() - 1));
    const bool moved = session->notify(u"NotifyPointerMotionAbsolute"_s, { m_stream->node, x, y });
    const auto press = [session](int code, uint state) {
        return session->notify(u"NotifyPointerButton"_s, { code, state });
    };
    switch (kind) {
    case MouseEvent::Moved:
    case MouseEvent::LeftDragged:
        return moved;
    case MouseEvent::LeftDown:
        return press(BTN_LEFT, kPressed) && moved;
    case MouseEvent::LeftUp:
        return press(BTN_LEFT, kReleased) && moved;
    case MouseEvent::RightDown:
        return press(BTN_RIGHT, kPressed) && moved;
    case MouseEvent::RightUp:
        return press(BTN_RIGHT, kReleased) && moved;
    }
    return false;
}

bool PortalRemoteDesktop::postScroll(qint32 lines)
{
    m_idle.start();
    PortalSession *session = live();
    if (!session)
        return false;
    // A positive step turns the wheel toward the user, scrolling down.
    const qint32 steps = lines == std::numeric_limits<qint32>::min() ? std::numeric_limits<qint32>::max() : -lines;
    return lines == 0 || session->notify(u"NotifyPointerAxisDiscrete"_s, { kVerticalAxis, steps });
}

bool PortalRemoteDesktop::postKey(Key key, Modifiers modifiers, bool down)
{
    m_idle.start();
    PortalSession *session = live();
    if (!session || key.code == 0)
        return false;
    return postModifiedKey(key, modifiers, down, [session](Key pressed, bool keyDown) {
        return session->notify(u"NotifyKeyboardKeycode"_s, { int(pressed.code), keyDown ? kPressed : kReleased });
    });
}

} // namespace pelk::platform
