#include "lock/ManagedLockController.h"

#include "lock/LockLog.h"

#include "boundary/AgentFile.h"
#include "boundary/LocalApi.h"
#include "platform/DesktopLockdown.h"

#include <QPointer>

#include <utility>

namespace pelk::lock {

using namespace Qt::StringLiterals;

namespace {

constexpr int kRefreshIntervalMs = 1000;
// Another client's grab (an open menu, a drag) usually ends within a few frames.
constexpr int kInputRetryMs = 75;

// A new lock command or a new administrator's message starts the lock screens afresh;
// locked, url and session changes alone do not.
bool isNewRecord(const std::optional<LockState> &held, const LockState &read)
{
    return !held || held->commandUuid != read.commandUuid || held->message != read.message;
}

} // namespace

ManagedLockController::ManagedLockController(LockScreens &screens, platform::DesktopLockdown &lockdown,
    boundary::ApiRequester &requester, QString lockFilePath, QObject *parent)
    : QObject(parent), m_screens(screens), m_lockdown(lockdown), m_requester(requester),
      m_lockFilePath(std::move(lockFilePath))
{
    m_timer.setInterval(kRefreshIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ManagedLockController::refresh);
    m_inputRetry.setInterval(kInputRetryMs);
    m_inputRetry.setSingleShot(true);
    connect(&m_inputRetry, &QTimer::timeout, this, &ManagedLockController::holdInput);
}

ManagedLockController::~ManagedLockController() = default;

void ManagedLockController::start()
{
    refresh();
    m_timer.start();
}

void ManagedLockController::refresh()
{
    const std::optional<QByteArray> bytes = boundary::readAgentFile(m_lockFilePath);
    std::optional<LockState> read = bytes ? LockState::decode(*bytes) : std::nullopt;
    // Missing, unreadable or not a whole valid record: the lock stays exactly as it is.
    if (!read)
        return;

    const bool isNew = isNewRecord(m_state, *read);
    const bool wasLocked = isLocked();
    m_state = std::move(read);

    if (!m_state->locked) {
        if (wasLocked) {
            closeWindows();
            m_lockdown.restore();
        }
        return;
    }

    if (!wasLocked)
        m_lockdown.saveState();
    cover(isNew);
    // Reported only while the input is held: until then the person may be typing into another program.
    if (!m_inputRefused)
        request(boundary::kPresenceEndpoint, QJsonObject { { boundary::key::kCommandUuid, m_state->commandUuid } },
            [](bool) {});
}

QList<QRect> ManagedLockController::screens() const
{
    // The display's own account first: the toolkit's list can lag behind a screen that grew.
    QList<QRect> frames = m_lockdown.screens();
    return frames.isEmpty() ? m_screens.screens() : frames;
}

void ManagedLockController::cover(bool rebuild)
{
    const QList<QRect> frames = screens();
    // The old windows stay up, holding the input, until the new ones cover the screens and
    // hold it in their turn: no moment with the desktop in view or the keyboard free.
    std::vector<std::unique_ptr<LockSurface>> replaced;
    if (rebuild || m_windows.size() != static_cast<size_t>(frames.size())) {
        replaced.swap(m_windows);
        showWindows(frames);
    }
    // Refit and raise every time: screens change and other windows map themselves on top.
    QList<quintptr> handles;
    for (size_t i = 0; i < m_windows.size(); ++i) {
        m_windows[i]->setFrame(frames[static_cast<qsizetype>(i)]);
        m_windows[i]->orderFront();
        handles.append(m_windows[i]->nativeHandle());
    }
    if (!m_windows.empty())
        m_windows.front()->makeKeyAndOrderFront();
    // The grabs go to the key window, so they are taken once the windows are in place.
    holdInput();
    QPointer<ManagedLockController> self(this);
    m_lockdown.keepCovering(handles, [self] {
        if (self && self->isLocked())
            self->cover(false);
    });
}

void ManagedLockController::holdInput()
{
    if (!isLocked())
        return;
    m_inputRetry.stop();
    const bool held = m_lockdown.force(m_windows.empty() ? 0 : m_windows.front()->nativeHandle());
    for (const auto &window : m_windows)
        window->setInputHeld(held);
    if (held) {
        m_inputRefused = false;
        return;
    }
    if (!std::exchange(m_inputRefused, true))
        qCWarning(lcLock, "another client holds the keyboard or pointer; trying again until it lets go");
    m_inputRetry.start();
}

void ManagedLockController::submit(const QString &pin, std::function<void(bool)> done)
{
    QPointer<ManagedLockController> self(this);
    request(boundary::kUnlockEndpoint, QJsonObject { { boundary::key::kPin, pin } },
        [self, done = std::move(done)](bool success) {
            if (done)
                done(success);
            if (success && self)
                self->refresh();
        });
}

void ManagedLockController::showWindows(const QList<QRect> &screens)
{
    const QString message = m_state->message.value_or(QString());
    QPointer<ManagedLockController> self(this);
    const PinSubmit submitAction = [self](const QString &pin, std::function<void(bool)> done) {
        if (self)
            self->submit(pin, std::move(done));
    };
    for (const QRect &frame : screens) {
        if (auto window = m_screens.createWindow(frame, message, m_aboveLoginWindow, submitAction))
            m_windows.push_back(std::move(window));
    }
}

void ManagedLockController::closeWindows()
{
    // Moved out first so a window that calls back while closing sees a consistent list.
    std::vector<std::unique_ptr<LockSurface>> closing;
    closing.swap(m_windows);
    closing.clear();
}

void ManagedLockController::request(QLatin1StringView endpoint, const QJsonObject &body, std::function<void(bool)> done)
{
    if (!m_state || !m_state->url || !m_state->session) {
        done(false);
        return;
    }
    const std::optional<QUrl> url = boundary::lockEndpointUrl(*m_state->url, QString(endpoint));
    const std::optional<QNetworkRequest> req = url ? boundary::localApiRequest(*url, *m_state->session) : std::nullopt;
    if (!req) {
        done(false);
        return;
    }
    QPointer<ManagedLockController> self(this);
    m_requester.post(*req, boundary::jsonBody(body), [self, done = std::move(done)](bool success) {
        // Held weakly: a completion arriving after the controller is gone reports nothing.
        if (self)
            done(success);
    });
}

} // namespace pelk::lock
