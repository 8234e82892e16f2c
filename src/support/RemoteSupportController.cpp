#include "support/RemoteSupportController.h"

#include "boundary/AgentFile.h"
#include "boundary/LocalApi.h"
#include "boundary/StrictJson.h"
#include "platform/Clock.h"
#include "platform/ConsoleSession.h"
#include "support/KeyTable.h"
#include "support/SupportWindows.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QPointer>
#include <QRectF>
#include <QTimer>

#include <cmath>
#include <limits>

namespace pelk::support {

using namespace Qt::StringLiterals;
namespace key = boundary::key;
using platform::InputInjector;

namespace {

// Messages of the consent checks, in English; shown through tr(). Where a check has no meaning
// on this platform the honest equivalent stands in, in the same words as the rest.
constexpr char kNotShareableSession[] = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController",
    "Remote sharing needs an X11 session or, on Wayland, GNOME’s screen-cast and remote-desktop services or the "
    "desktop portal’s, and this session offers none of them.");
constexpr char kCaptureUnavailable[] = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController",
    "Remote sharing needs screen capture, which this display does not offer now: the X server lacks the MIT-SHM "
    "extension, or the desktop ended its screen cast.");
constexpr char kControlUnavailable[] = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController",
    "Remote control needs synthetic input, which this display does not offer now: the X server lacks the XTEST "
    "extension, or the desktop ended its remote-desktop session.");
constexpr char kMainDisplayUnavailable[]
    = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController", "The main display is unavailable.");

constexpr char kRestartMessage[]
    = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController", "Restart when you’re ready");
//: %1 is the name of what was changed, as the agent writes it.
constexpr char kRestartInformative[] = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController",
    "%1 was changed by your IT team and needs a restart. Save your work, then restart this computer from the system "
    "menu. Pelk will not restart this computer automatically.");
constexpr char kRestartButton[] = QT_TRANSLATE_NOOP("pelk::support::RemoteSupportController", "Got it");

// Scrolling is posted click by click; a larger amount is clipped rather than left to flood
// the display server.
constexpr qint64 kMaxScrollLines = 100;

// A JSON number taken as a 64-bit integer: fractions cut toward zero, out of range clamped,
// anything else the default.
qint64 integerMember(const QJsonObject &object, QLatin1StringView name, qint64 fallback = 0)
{
    const QJsonValue value = object.value(name);
    if (const std::optional<qint64> exact = json::strictInteger(value))
        return *exact;
    if (!value.isDouble() || std::isnan(value.toDouble()))
        return fallback;
    const double number = std::trunc(value.toDouble());
    if (number >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (number <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(number);
}

InputInjector::Modifiers modifiersOf(const QJsonObject &event)
{
    const QJsonValue value = event.value(key::kModifiers);
    if (!value.isArray())
        return {};
    InputInjector::Modifiers modifiers;
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString())
            return {}; // a malformed list counts as none
        const QString name = item.toString();
        if (name == u"shift")
            modifiers |= InputInjector::Modifier::Shift;
        else if (name == u"ctrl")
            modifiers |= InputInjector::Modifier::Control;
        else if (name == u"alt")
            modifiers |= InputInjector::Modifier::Alt;
        else if (name == u"meta")
            modifiers |= InputInjector::Modifier::Super;
    }
    return modifiers;
}

// Where an event's fractions land on the display: clamped to [0, 1], never past the last pixel.
QPointF apply(const QRectF &display, QLatin1StringView xName, QLatin1StringView yName, const QJsonObject &event)
{
    const auto fraction = [&event](QLatin1StringView name) {
        const QJsonValue value = event.value(name);
        if (!value.isDouble())
            return 0.0;
        const double number = value.toDouble();
        if (std::isnan(number) || number < 0)
            return 0.0;
        return std::min(number, 1.0);
    };
    return QPointF(display.left() + (display.width() - 1) * fraction(xName),
        display.top() + (display.height() - 1) * fraction(yName));
}

} // namespace

RemoteSupportController::RemoteSupportController(Services services, QString desktopFilePath, QObject *parent)
    : QObject(parent), m_services(services), m_desktopFilePath(std::move(desktopFilePath))
{
    m_timer.setInterval(kTickMs);
    m_timer.setTimerType(Qt::CoarseTimer);
}

RemoteSupportController::~RemoteSupportController() = default;

void RemoteSupportController::start()
{
    if (m_started)
        return;
    m_started = true;
    QPointer<RemoteSupportController> self(this);
    m_model.setActions(
        [self] {
            if (self)
                self->allow();
        },
        [self] {
            if (self)
                self->stop();
        });
    connect(&m_timer, &QTimer::timeout, this, &RemoteSupportController::tick);
    connect(&m_services.session, &platform::ConsoleSession::sessionEnded, this, &RemoteSupportController::stop);
    m_timer.start();
}

void RemoteSupportController::shutdown()
{
    m_timer.stop();
    if (!m_presentedID || m_shuttingDown)
        return;
    m_shuttingDown = true;
    // The agent and the technician hear that it ended before the process goes; a silent agent
    // holds the exit up for a second at most. The answer cannot outlive the loop: end() below
    // makes the request's completion stale.
    QEventLoop answered;
    if (send(endingAction(), {}, [&answered](const std::optional<QJsonObject> &) { answered.quit(); })) {
        QTimer::singleShot(kShutdownWaitMs, &answered, &QEventLoop::quit);
        answered.exec();
    }
    end();
    m_shuttingDown = false;
}

void RemoteSupportController::tick()
{
    // The restart notice holds the tick until the user closes it; the timer keeps firing. While
    // quitting, the file changes that the ending itself causes (the offer withdrawn) or a new
    // offer must not present or reset anything under shutdown's feet.
    if (m_noticeOpen || m_shuttingDown)
        return;
    const std::optional<QByteArray> bytes = boundary::readAgentFile(m_desktopFilePath);
    std::optional<DesktopState> decoded = bytes ? DesktopState::decode(*bytes) : std::nullopt;
    if (!decoded) {
        if (m_accepted)
            stop();
        return;
    }
    m_state = std::move(decoded);

    const std::optional<Restart> &restart = m_state->restart;
    if (restart && restart->id != m_restartID && !m_state->support) {
        m_restartID = restart->id;
        m_noticeOpen = true;
        QPointer<RemoteSupportController> self(this);
        m_services.notices.showNotice(
            tr(kRestartMessage), tr(kRestartInformative).arg(restart->application), tr(kRestartButton), [self] {
                if (!self || !self->m_noticeOpen)
                    return;
                self->m_noticeOpen = false;
                self->continueTick();
            });
        return;
    }
    continueTick();
}

void RemoteSupportController::continueTick()
{
    if (!m_state || !m_state->support) {
        reset();
        return;
    }
    const Offer offer = *m_state->support;
    const qint64 now = m_services.clock.now().toMSecsSinceEpoch() / 1000; // truncated toward zero
    if (now >= offer.expiresAt || m_dismissed.contains(offer.sessionID)) {
        reset();
        return;
    }
    if (m_managedLockHeld && m_managedLockHeld()) {
        m_accepted ? stop() : reset();
        return;
    }
    const platform::ConsoleSession::Properties session = m_services.session.properties();
    if (session.screenIsLocked || !session.onConsole) {
        stop();
        return;
    }
    if (m_presentedID != offer.sessionID) {
        reset();
        m_presentedID = offer.sessionID;
        m_model.setTechnician(offer.technician);
        m_model.setMode(offer.mode);
        m_model.setError(QString());
        QPointer<RemoteSupportController> self(this);
        m_panel = m_services.panels.showPanel(m_model, [self] {
            if (self)
                self->windowShouldClose();
        });
        m_services.panels.activate();
    }
    if (m_requestInFlight)
        return;
    if (m_wantsAccept) {
        m_wantsAccept = false;
        allow();
    } else if (!m_model.busy()) {
        if (!m_accepted) {
            QPointer<RemoteSupportController> self(this);
            const bool started
                = send(boundary::kSupportActionPoll, {}, [self](const std::optional<QJsonObject> &answer) {
                      if (self)
                          self->consume(answer);
                  });
            if (!started)
                consume(std::nullopt);
        } else {
            capture();
        }
    }
}

void RemoteSupportController::stop()
{
    if (!m_presentedID)
        return;
    send(endingAction(), {}, {});
    end();
}

QLatin1StringView RemoteSupportController::endingAction() const
{
    return m_accepted ? boundary::kSupportActionStop : boundary::kSupportActionDecline;
}

void RemoteSupportController::end()
{
    if (m_presentedID)
        m_dismissed.insert(*m_presentedID);
    reset();
}

void RemoteSupportController::reset()
{
    ++m_generation;
    m_accepted = false;
    m_wantsAccept = false;
    m_model.setActive(false);
    m_model.setBusy(false);
    m_requestInFlight = false;
    m_presentedID.reset();
    m_filter.reset();
    m_frameBodies.clear();
    m_lastSequence = 0;
    m_panel.reset();
}

void RemoteSupportController::windowShouldClose()
{
    stop();
}

bool RemoteSupportController::send(QLatin1StringView action, QJsonObject extra, AnswerHandler completion)
{
    if (!m_state || !m_presentedID)
        return false;
    extra.insert(key::kAction, QString(action));
    extra.insert(key::kSessionId, *m_presentedID);
    return sendBody(boundary::jsonBody(extra), std::move(completion));
}

QByteArray FrameBodies::bodyFor(const QByteArray &jpeg, const QString &sessionId)
{
    if (m_body.isEmpty() || sessionId != m_sessionId || jpeg != m_jpeg) {
        const QJsonObject body { { key::kJpeg, QString::fromLatin1(jpeg.toBase64()) },
            { key::kAction, QString(boundary::kSupportActionFrame) }, { key::kSessionId, sessionId } };
        m_jpeg = jpeg;
        m_sessionId = sessionId;
        m_body = boundary::jsonBody(body);
    }
    return m_body;
}

bool RemoteSupportController::sendBody(const QByteArray &body, AnswerHandler completion)
{
    if (!m_state || !m_presentedID)
        return false;
    const std::optional<QUrl> url = boundary::supportEndpointUrl(m_state->url);
    if (!url)
        return false;
    const std::optional<QNetworkRequest> request = boundary::localApiRequest(*url, m_state->session);
    if (!request)
        return false;
    m_requestInFlight = true;
    const qint64 generation = m_generation;
    QPointer<RemoteSupportController> self(this);
    m_services.requester.postForBody(*request, body, kMaxAnswerBytes,
        [self, generation, completion = std::move(completion)](std::optional<QByteArray> answer) {
            if (!self || self->m_generation != generation)
                return;
            self->m_requestInFlight = false;
            if (!completion)
                return;
            completion(answer ? json::parseObject(*answer) : std::nullopt);
        });
    return true;
}

void RemoteSupportController::allow()
{
    if (m_requestInFlight) {
        m_wantsAccept = true;
        return;
    }
    if (!m_services.capture.isShareableSession()) {
        m_model.setError(tr(kNotShareableSession));
        return;
    }
    if (!m_services.capture.capturePermitted()) {
        m_model.setError(tr(kCaptureUnavailable));
        return;
    }
    if (m_model.isControl() && !m_services.input.controlPermitted()) {
        m_model.setError(tr(kControlUnavailable));
        return;
    }
    m_model.setBusy(true);
    const qint64 generation = m_generation;
    QPointer<RemoteSupportController> self(this);
    m_services.capture.findMainDisplay([self, generation](std::optional<platform::MainDisplay> display) {
        if (!self || self->m_generation != generation)
            return;
        if (!display) {
            self->m_model.setBusy(false);
            self->m_model.setError(tr(kMainDisplayUnavailable));
            return;
        }
        self->m_filter = display;
        const bool started
            = self->send(boundary::kSupportActionAccept, {}, [self](const std::optional<QJsonObject> &answer) {
                  if (!self)
                      return;
                  self->m_model.setBusy(false);
                  if (answer && answer->value(key::kStatus) == boundary::kSupportStatusActive) {
                      self->m_accepted = true;
                      self->m_model.setActive(true);
                      self->m_model.setError(QString());
                  } else {
                      self->consume(answer);
                  }
              });
        if (!started) {
            self->m_model.setBusy(false);
            self->stop();
        }
    });
}

QSize RemoteSupportController::pictureSize(const QSizeF &bounds)
{
    const double longer = std::max(bounds.width(), bounds.height());
    const double scale = longer > 0 ? std::min(kMaxPictureSide / longer, 1.0) : 1.0;
    const auto side = [scale](double length) {
        const double scaled = std::trunc(length * scale);
        return scaled >= 1 ? int(std::min(scaled, double(std::numeric_limits<int>::max()))) : 1;
    };
    return QSize(side(bounds.width()), side(bounds.height()));
}

void RemoteSupportController::capture()
{
    if (!m_services.capture.isShareableSession() || !m_filter || !m_accepted)
        return;
    if (!m_services.capture.capturePermitted() || (m_model.isControl() && !m_services.input.controlPermitted())) {
        stop();
        return;
    }
    m_requestInFlight = true;
    const qint64 generation = m_generation;
    const QRect bounds = m_services.capture.mainDisplayBounds().value_or(m_filter->bounds);
    QPointer<RemoteSupportController> self(this);
    m_services.capture.captureJpeg(
        *m_filter, pictureSize(bounds.size()), kJpegQuality, [self, generation](std::optional<QByteArray> jpeg) {
            if (!self || self->m_generation != generation || !self->m_accepted)
                return;
            self->m_requestInFlight = false;
            if (!jpeg || jpeg->isEmpty() || jpeg->size() > kMaxJpegBytes) {
                self->stop();
                return;
            }
            const bool started
                = self->sendBody(self->m_frameBodies.bodyFor(*jpeg, self->m_presentedID.value_or(QString())),
                    [self](const std::optional<QJsonObject> &answer) {
                        if (self)
                            self->consume(answer);
                    });
            if (!started)
                self->stop();
        });
}

void RemoteSupportController::consume(const std::optional<QJsonObject> &answer)
{
    const QJsonValue status = answer ? answer->value(key::kStatus) : QJsonValue();
    if (!answer || answer->isEmpty() || !status.isString()) {
        stop();
        return;
    }
    const QString word = status.toString();
    if (word != boundary::kSupportStatusRequested && word != boundary::kSupportStatusActive) {
        stop();
        return;
    }
    if (!m_accepted || word != boundary::kSupportStatusActive || !m_model.isControl())
        return;
    const QJsonValue events = answer->value(key::kEvents);
    if (!events.isArray())
        return;
    const QJsonArray list = events.toArray();
    for (const QJsonValue &event : list) {
        if (!event.isObject())
            return; // one stray element makes the whole list count as none
    }
    const qint64 generation = m_generation;
    for (const QJsonValue &event : list) {
        // Posting never re-enters the controller, but a session ended meanwhile stops here.
        if (m_generation != generation)
            return;
        postEvent(event.toObject());
    }
}

void RemoteSupportController::postEvent(const QJsonObject &event)
{
    const qint64 sequence = integerMember(event, key::kSequence);
    if (sequence <= m_lastSequence)
        return;
    const QJsonValue expiresValue = event.value(key::kExpiresAt);
    const double expiresAt = expiresValue.isDouble() ? expiresValue.toDouble() : 0.0;
    const double now = double(m_services.clock.now().toMSecsSinceEpoch()) / 1000.0;
    if (!(now < expiresAt))
        return;
    m_lastSequence = sequence;
    InputInjector &input = m_services.input;
    if (!input.controlPermitted())
        return;
    const std::optional<QRect> bounds = m_services.capture.mainDisplayBounds();
    if (!bounds)
        return;
    const QRectF display(*bounds);
    const InputInjector::Button button
        = event.value(key::kButton) == u"right"_s ? InputInjector::Button::Right : InputInjector::Button::Left;
    const QPointF p = apply(display, key::kX, key::kY, event);
    const QPointF q = apply(display, key::kToX, key::kToY, event);
    using Kind = InputInjector::MouseEvent;
    const QString type = event.value(key::kType).toString();
    if (type == u"move") {
        input.postMouse(Kind::Moved, p, 1, button);
    } else if (type == u"click" || type == u"double_click") {
        const int count = type == u"double_click" ? 2 : 1;
        const bool right = button == InputInjector::Button::Right;
        for (int i = 1; i <= count; ++i) {
            input.postMouse(right ? Kind::RightDown : Kind::LeftDown, p, i, button);
            input.postMouse(right ? Kind::RightUp : Kind::LeftUp, p, i, button);
        }
    } else if (type == u"drag") {
        input.postMouse(Kind::LeftDown, p, 1, button);
        input.postMouse(Kind::LeftDragged, q, 1, button);
        input.postMouse(Kind::LeftUp, q, 1, button);
    } else if (type == u"scroll") {
        input.postMouse(Kind::Moved, p, 1, button);
        const qint64 delta = std::clamp(integerMember(event, key::kDelta), -kMaxScrollLines, kMaxScrollLines);
        input.postScroll(qint32(delta));
    } else if (type == u"key") {
        const QJsonValue name = event.value(key::kKey);
        const auto found = name.isString() ? keys().constFind(name.toString()) : keys().constEnd();
        if (found == keys().constEnd())
            return;
        const InputInjector::Modifiers modifiers = modifiersOf(event);
        input.postKey(*found, modifiers, true);
        input.postKey(*found, modifiers, false);
    }
}

} // namespace pelk::support
