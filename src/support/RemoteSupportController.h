#pragma once

#include "boundary/AgentBoundary.h"
#include "platform/InputInjector.h"
#include "platform/ScreenCapture.h"
#include "support/DesktopState.h"
#include "support/SupportModel.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace pelk::boundary {
class ApiRequester;
}
namespace pelk::platform {
class Clock;
class ConsoleSession;
} // namespace pelk::platform

namespace pelk::support {

class NoticePresenter;
class PanelPresenter;
class SupportPanel;

// The bodies of "frame" requests. A still screen's picture comes again as the same bytes; its
// body is then sent again rather than encoded again.
class FrameBodies {
public:
    QByteArray bodyFor(const QByteArray &jpeg, const QString &sessionId);
    void clear() { *this = {}; }

private:
    QByteArray m_jpeg;
    QString m_sessionId;
    QByteArray m_body;
};

// Follows the desktop state file every half second: shows restart notices once, asks the
// user's consent for a support offer, then shares the main display frame by frame and replays
// the technician's input. One request or capture at a time; every asynchronous step carries
// the generation it started in and is ignored once a reset has moved on.
class RemoteSupportController : public QObject {
    Q_OBJECT

public:
    struct Services {
        platform::ConsoleSession &session;
        platform::ScreenCapture &capture;
        platform::InputInjector &input;
        PanelPresenter &panels;
        NoticePresenter &notices;
        boundary::ApiRequester &requester;
        const platform::Clock &clock;
    };

    static constexpr int kTickMs = 500;
    static constexpr int kJpegQuality = 55;
    static constexpr qint64 kMaxJpegBytes = 400000;
    static constexpr qint64 kMaxAnswerBytes = 1024 * 1024;
    static constexpr int kMaxPictureSide = 1440;
    static constexpr int kShutdownWaitMs = 1000;

    explicit RemoteSupportController(
        Services services, QString desktopFilePath = boundary::desktopFilePath(), QObject *parent = nullptr);
    ~RemoteSupportController() override;

    SupportModel &model() { return m_model; }

    // Wires the model's buttons and the session notifications, then ticks every half second.
    void start();
    // Whether the organisation holds this computer locked: a session then ends as on a screen
    // lock, and an offer waits, unshown and undeclined, until the lock lifts.
    void setManagedLockHeld(std::function<bool()> held) { m_managedLockHeld = std::move(held); }
    // Ends a shown offer or session and stops ticking, on the way out of the process: returns
    // once the agent has answered the "decline" or "stop", or after kShutdownWaitMs.
    void shutdown();

    // One look at the desktop state file; the timer calls it every half second.
    void tick();

    // The picture size for a display: longer side at most 1440, aspect kept, at least 1 by 1.
    static QSize pictureSize(const QSizeF &bounds);

private:
    using AnswerHandler = std::function<void(const std::optional<QJsonObject> &)>;

    void continueTick();
    void stop();
    // "stop" for a session that was allowed, "decline" for an offer.
    QLatin1StringView endingAction() const;
    // The shown offer or session is over for this process: dismissed, and everything reset.
    void end();
    void allow();
    void capture();
    void consume(const std::optional<QJsonObject> &answer);
    void reset();
    void windowShouldClose();
    // Sends one "/support" action; false when the request cannot start.
    bool send(QLatin1StringView action, QJsonObject extra, AnswerHandler completion);
    // The same with a body made already (the action and session included).
    bool sendBody(const QByteArray &body, AnswerHandler completion);

    void postEvent(const QJsonObject &event);

    Services m_services;
    const QString m_desktopFilePath;

    SupportModel m_model;
    QTimer m_timer;
    std::optional<DesktopState> m_state;
    std::unique_ptr<SupportPanel> m_panel;
    bool m_requestInFlight = false;
    bool m_shuttingDown = false;
    std::function<bool()> m_managedLockHeld;
    qint64 m_generation = 0;
    bool m_accepted = false;
    bool m_wantsAccept = false;
    std::optional<QString> m_presentedID;
    QSet<QString> m_dismissed;
    std::optional<QString> m_restartID;
    qint64 m_lastSequence = 0;
    std::optional<platform::MainDisplay> m_filter;
    FrameBodies m_frameBodies;
    bool m_noticeOpen = false;
    bool m_started = false;
};

} // namespace pelk::support
