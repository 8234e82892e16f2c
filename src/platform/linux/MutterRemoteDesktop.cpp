#include "platform/linux/MutterRemoteDesktop.h"

#include "platform/linux/ModifiedKey.h"
#include "platform/linux/PipeWireStream.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

const auto kRemoteService = u"org.gnome.Mutter.RemoteDesktop"_s;
const auto kRemotePath = u"/org/gnome/Mutter/RemoteDesktop"_s;
const auto kRemoteSession = u"org.gnome.Mutter.RemoteDesktop.Session"_s;
const auto kCastService = u"org.gnome.Mutter.ScreenCast"_s;
const auto kCastPath = u"/org/gnome/Mutter/ScreenCast"_s;
const auto kCastSession = u"org.gnome.Mutter.ScreenCast.Session"_s;
const auto kCastStream = u"org.gnome.Mutter.ScreenCast.Stream"_s;
const auto kProperties = u"org.freedesktop.DBus.Properties"_s;

// Mutter's cursor modes: 1 draws the pointer into the pictures.
constexpr uint kCursorEmbedded = 1;
// NotifyPointerAxisDiscrete's vertical axis; its positive steps scroll down, as a wheel turned
// towards the user does.
constexpr uint kVerticalAxis = 0;
constexpr int kCallTimeoutMs = 5000;
// From the consent to the first picture: Mutter starts the cast and PipeWire links the stream.
constexpr int kStartTimeoutMs = 15000;
// A support session asks for a frame every half second, and an upload may take 4 seconds.
constexpr int kIdleMs = 10000;

// An (ii) structure of the stream's parameters.
std::optional<QPoint> pair(const QVariant &value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != "(ii)"_L1)
        return std::nullopt;
    int first = 0;
    int second = 0;
    argument.beginStructure();
    argument >> first >> second;
    argument.endStructure();
    return QPoint(first, second);
}

} // namespace

MutterRemoteDesktop::MutterRemoteDesktop(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus))
{
    m_startTimeout.setSingleShot(true);
    m_startTimeout.setInterval(kStartTimeoutMs);
    connect(&m_startTimeout, &QTimer::timeout, this, [this] { finishStart(false); });
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        tearDown();
        m_state = State::Idle;
    });
}

MutterRemoteDesktop::~MutterRemoteDesktop()
{
    tearDown();
}

bool MutterRemoteDesktop::offeredOn(const QDBusConnection &bus)
{
    // The bus daemon answers at once; asked when the platform picks the display.
    const QDBusConnectionInterface *daemon = bus.isConnected() ? bus.interface() : nullptr;
    return daemon && daemon->isServiceRegistered(kRemoteService).value()
        && daemon->isServiceRegistered(kCastService).value();
}

bool MutterRemoteDesktop::isShareableSession()
{
    return true; // made only where offeredOn found Mutter's services
}

bool MutterRemoteDesktop::capturePermitted()
{
    return m_state != State::Lost;
}

bool MutterRemoteDesktop::controlPermitted()
{
    return capturePermitted();
}

std::optional<QRect> MutterRemoteDesktop::mainDisplayBounds()
{
    if (m_state != State::Running || !m_stream)
        return std::nullopt;
    // The picture follows the monitor's mode at once; its position comes with the parameters.
    const std::optional<PipeWireStream::Picture> picture = m_stream->picture();
    const QSize size = picture
        ? QSize(int(std::lround(picture->size.width() / m_scale)), int(std::lround(picture->size.height() / m_scale)))
        : m_logicalSize;
    return size.isEmpty() ? std::nullopt : std::optional<QRect>(QRect(m_position, size));
}

void MutterRemoteDesktop::findMainDisplay(std::function<void(std::optional<MainDisplay>)> done)
{
    keepAlive();
    if (m_state == State::Running) {
        std::optional<MainDisplay> display;
        if (const std::optional<QRect> bounds = mainDisplayBounds())
            display = MainDisplay { m_generation, *bounds };
        QTimer::singleShot(0, this, [done = std::move(done), display] { done(display); });
        return;
    }
    m_waiting.push_back(std::move(done));
    if (m_state != State::Starting)
        start();
}

void MutterRemoteDesktop::captureJpeg(
    const MainDisplay &, QSize size, int quality, std::function<void(std::optional<QByteArray>)> done)
{
    keepAlive();
    if (m_state == State::Idle || m_state == State::Starting) {
        // The cast was stopped between two slow frames: started again for this one.
        m_waiting.push_back([this, size, quality, done = std::move(done)](std::optional<MainDisplay> display) {
            done(display ? captureJpegNow(size, quality) : std::nullopt);
        });
        if (m_state == State::Idle)
            start();
        return;
    }
    std::optional<QByteArray> jpeg = captureJpegNow(size, quality);
    QTimer::singleShot(0, this, [done = std::move(done), jpeg = std::move(jpeg)] { done(jpeg); });
}

std::optional<QByteArray> MutterRemoteDesktop::captureJpegNow(QSize size, int quality)
{
    keepAlive();
    const std::optional<PipeWireStream::Picture> picture
        = m_state == State::Running && m_stream ? m_stream->picture() : std::nullopt;
    if (!picture)
        return std::nullopt;
    // Mutter sends a picture only when the screen changed: a still screen sends the last JPEG again.
    return m_encoder.encodeNumbered(picture->serial, picture->pixels, picture->size.width(), picture->size.height(),
        picture->stride, size, quality);
}

void MutterRemoteDesktop::keepAlive()
{
    m_idle.start();
}

void MutterRemoteDesktop::call(const QString &service, const QString &path, const QString &interface,
    const QString &method, const QVariantList &args, Step next)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kCallTimeoutMs), this);
    const quint32 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, generation, method, next = std::move(next)](QDBusPendingCallWatcher *reply) {
            reply->deleteLater();
            const QDBusMessage answer = reply->reply();
            const bool stale = generation != m_generation || m_state != State::Starting;
            if (stale && method == "CreateSession"_L1 && !answer.arguments().isEmpty()) {
                // A session made for a start given up meanwhile is not left running.
                const QString made = answer.arguments().constFirst().value<QDBusObjectPath>().path();
                notify(made, made.contains("ScreenCast"_L1) ? kCastSession : kRemoteSession, u"Stop"_s, {});
            }
            if (stale)
                return;
            if (answer.type() != QDBusMessage::ReplyMessage || (answer.arguments().isEmpty() && method != "Start"_L1)) {
                finishStart(false);
                return;
            }
            next(answer);
        });
}

bool MutterRemoteDesktop::notify(
    const QString &path, const QString &interface, const QString &method, const QVariantList &args)
{
    if (path.isEmpty())
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(
        interface == kRemoteSession ? kRemoteService : kCastService, path, interface, method);
    message.setArguments(args);
    // Sent in order on the one connection; their answers tell nothing worth waiting for.
    return m_bus.send(message);
}

void MutterRemoteDesktop::start()
{
    tearDown();
    m_state = State::Starting;
    m_startTimeout.start();
    call(kRemoteService, kRemotePath, u"org.gnome.Mutter.RemoteDesktop"_s, u"CreateSession"_s, {},
        [this](const QDBusMessage &created) {
            m_remoteSession = created.arguments().constFirst().value<QDBusObjectPath>().path();
            m_bus.connect(kRemoteService, m_remoteSession, kRemoteSession, u"Closed"_s, this, SLOT(sessionClosed()));
            call(kRemoteService, m_remoteSession, kProperties, u"Get"_s, { kRemoteSession, u"SessionId"_s },
                [this](const QDBusMessage &id) {
                    const QVariantMap properties { { u"remote-desktop-session-id"_s,
                        id.arguments().constFirst().value<QDBusVariant>().variant().toString() } };
                    call(kCastService, kCastPath, u"org.gnome.Mutter.ScreenCast"_s, u"CreateSession"_s, { properties },
                        [this](const QDBusMessage &cast) { recordMonitor(cast); });
                });
        });
}

void MutterRemoteDesktop::recordMonitor(const QDBusMessage &cast)
{
    m_castSession = cast.arguments().constFirst().value<QDBusObjectPath>().path();
    m_bus.connect(kCastService, m_castSession, kCastSession, u"Closed"_s, this, SLOT(sessionClosed()));
    // No connector: the primary monitor.
    const QVariantMap properties { { u"cursor-mode"_s, QVariant::fromValue(kCursorEmbedded) } };
    call(kCastService, m_castSession, kCastSession, u"RecordMonitor"_s, { QString(), properties },
        [this](const QDBusMessage &recorded) {
            m_streamPath = recorded.arguments().constFirst().value<QDBusObjectPath>().path();
            m_bus.connect(
                kCastService, m_streamPath, kCastStream, u"PipeWireStreamAdded"_s, this, SLOT(streamAdded(uint)));
            m_bus.connect(kCastService, m_streamPath, kProperties, u"PropertiesChanged"_s, this,
                SLOT(streamPropertiesChanged(QString, QVariantMap, QStringList)));
            // The remote-desktop session starts its screen cast with it.
            call(kRemoteService, m_remoteSession, kRemoteSession, u"Start"_s, {}, [](const QDBusMessage &) {});
        });
}

void MutterRemoteDesktop::streamAdded(uint node)
{
    if (m_state != State::Starting || m_stream)
        return;
    readParameters();
    m_stream = new PipeWireStream(-1, node, this);
    connect(m_stream, &PipeWireStream::pictureArrived, this, [this] {
        if (m_state == State::Starting && !m_logicalSize.isEmpty())
            finishStart(true);
    });
    connect(m_stream, &PipeWireStream::ended, this, &MutterRemoteDesktop::sessionClosed);
}

void MutterRemoteDesktop::readParameters()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kCastService, m_streamPath, kProperties, u"Get"_s);
    get << kCastStream << u"Parameters"_s;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, kCallTimeoutMs), this);
    const quint32 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher *reply) {
        reply->deleteLater();
        const QDBusMessage answer = reply->reply();
        if (generation != m_generation || answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
            return;
        const QVariant value = answer.arguments().constFirst().value<QDBusVariant>().variant();
        QVariantMap parameters;
        if (value.userType() == qMetaTypeId<QDBusArgument>())
            value.value<QDBusArgument>() >> parameters;
        takeParameters(parameters);
    });
}

void MutterRemoteDesktop::streamPropertiesChanged(
    const QString &interface, const QVariantMap &changed, const QStringList &)
{
    if (interface != kCastStream || !changed.contains(u"Parameters"_s))
        return;
    QVariantMap parameters;
    const QVariant value = changed.value(u"Parameters"_s);
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        value.value<QDBusArgument>() >> parameters;
    takeParameters(parameters);
}

void MutterRemoteDesktop::takeParameters(const QVariantMap &parameters)
{
    const std::optional<QPoint> position = pair(parameters.value(u"position"_s));
    const std::optional<QPoint> size = pair(parameters.value(u"size"_s));
    if (!position || !size || size->x() <= 0 || size->y() <= 0)
        return;
    m_position = *position;
    m_logicalSize = QSize(size->x(), size->y());
    if (m_state == State::Starting && m_stream && m_stream->picture())
        finishStart(true);
}

void MutterRemoteDesktop::finishStart(bool ok)
{
    if (m_state != State::Starting)
        return;
    m_startTimeout.stop();
    std::optional<MainDisplay> display;
    const std::optional<PipeWireStream::Picture> picture = ok && m_stream ? m_stream->picture() : std::nullopt;
    if (picture && !m_logicalSize.isEmpty()) {
        // Stream pixels per logical unit: the monitor's scale, kept while the mode changes.
        m_scale = double(picture->size.width()) / m_logicalSize.width();
        m_state = State::Running;
        if (const std::optional<QRect> bounds = mainDisplayBounds())
            display = MainDisplay { m_generation, *bounds };
    } else {
        tearDown();
        m_state = State::Idle;
    }
    // Every start is answered from a D-Bus reply or a timer, so never within the call that asked.
    auto waiting = std::move(m_waiting);
    m_waiting.clear();
    for (auto &done : waiting)
        done(display);
}

void MutterRemoteDesktop::sessionClosed()
{
    if (m_state == State::Starting) {
        finishStart(false);
        return;
    }
    if (m_state != State::Running)
        return;
    // Mutter (or its user) ended the cast: nothing may be captured or posted until the support
    // session is over and a new one starts.
    tearDown();
    m_state = State::Lost;
    m_idle.start();
}

void MutterRemoteDesktop::tearDown()
{
    ++m_generation;
    m_startTimeout.stop();
    if (m_stream) {
        m_stream->disconnect(this);
        m_stream->deleteLater();
        m_stream = nullptr;
    }
    if (!m_remoteSession.isEmpty()) {
        m_bus.disconnect(kRemoteService, m_remoteSession, kRemoteSession, u"Closed"_s, this, SLOT(sessionClosed()));
        // Stopping the remote-desktop session stops its screen cast too.
        notify(m_remoteSession, kRemoteSession, u"Stop"_s, {});
    }
    if (!m_castSession.isEmpty())
        m_bus.disconnect(kCastService, m_castSession, kCastSession, u"Closed"_s, this, SLOT(sessionClosed()));
    if (!m_streamPath.isEmpty()) {
        m_bus.disconnect(
            kCastService, m_streamPath, kCastStream, u"PipeWireStreamAdded"_s, this, SLOT(streamAdded(uint)));
        m_bus.disconnect(kCastService, m_streamPath, kProperties, u"PropertiesChanged"_s, this,
            SLOT(streamPropertiesChanged(QString, QVariantMap, QStringList)));
    }
    m_remoteSession.clear();
    m_castSession.clear();
    m_streamPath.clear();
    m_logicalSize = QSize();
    m_scale = 1.0;
    m_encoder.forgetLast();
}

bool MutterRemoteDesktop::postMotion(QPointF at)
{
    // NotifyPointerMotionAbsolute takes the stream's own pixels, from its monitor's corner; the
    // point goes to the nearest whole pixel, as on X11.
    const double x = (qRound(at.x()) - m_position.x()) * m_scale;
    const double y = (qRound(at.y()) - m_position.y()) * m_scale;
    return notify(m_remoteSession, kRemoteSession, u"NotifyPointerMotionAbsolute"_s, { m_streamPath, x, y });
}

bool MutterRemoteDesktop::postMouse(MouseEvent kind, QPointF at, int clickState, Button button)
{
    // Mutter counts double clicks itself from the timing of the presses.
    Q_UNUSED(clickState);
    Q_UNUSED(button);
    if (!controlPermitted() || m_state != State::Running)
        return false;
    const auto press = [this](int code, bool down) {
        return notify(m_remoteSession, kRemoteSession, u"NotifyPointerButton"_s, { code, down });
    };
    switch (kind) {
    case MouseEvent::Moved:
    case MouseEvent::LeftDragged:
        return postMotion(at);
    case MouseEvent::LeftDown:
    case MouseEvent::RightDown:
        return postMotion(at) && press(kind == MouseEvent::LeftDown ? BTN_LEFT : BTN_RIGHT, true);
    case MouseEvent::LeftUp:
    case MouseEvent::RightUp:
        return postMotion(at) && press(kind == MouseEvent::LeftUp ? BTN_LEFT : BTN_RIGHT, false);
    }
    return false;
}

bool MutterRemoteDesktop::postScroll(qint32 lines)
{
    if (!controlPermitted() || m_state != State::Running)
        return false;
    if (lines == 0)
        return true;
    // Positive lines scroll up, which Mutter counts as negative steps.
    return notify(m_remoteSession, kRemoteSession, u"NotifyPointerAxisDiscrete"_s,
        { kVerticalAxis, -qint32(std::clamp<qint64>(lines, -100000, 100000)) });
}

bool MutterRemoteDesktop::postKey(Key key, Modifiers modifiers, bool down)
{
    if (!controlPermitted() || m_state != State::Running || key.code == 0)
        return false;
    return postModifiedKey(key, modifiers, down, [this](Key pressed, bool keyDown) {
        return notify(m_remoteSession, kRemoteSession, u"NotifyKeyboardKeycode"_s, { uint(pressed.code), keyDown });
    });
}

} // namespace pelk::platform
