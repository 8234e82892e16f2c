#pragma once

#include "boundary/AgentBoundary.h"
#include "platform/InputInjector.h"
#include "platform/ScreenCapture.h"
#include "support/DesktopState.h"
#include "support/SupportModel.h"

#include <QJsonObject>
#include <QObject>
#include <QRectF>
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

    explicit RemoteSupportController(
        Services services, QString desktopFilePath = boundary::desktopFilePath(), QObject *parent = nullptr);
    ~RemoteSupportController() override;

    SupportModel &model() { return m_model; }

    // Wires the model's buttons and the session notifications, then ticks every half second.
    void start();
    // Ends a shown offer or session (telling the agent) and stops ticking.
    void shutdown();

    void tick();
    void stop();
    void allow();
    void capture();
    void consume(const std::optional<QJsonObject> &answer);

    // Where an event's fractions land on the display: clamped to [0, 1], never past the last pixel.
    static QPointF apply(
        const QRectF &display, QLatin1StringView xName, QLatin1StringView yName, const QJsonObject &event);
    // The picture size for a display: longer side at most 1440, aspect kept, at least 1 by 1.
    static QSize pictureSize(const QSizeF &bounds);

    // Read by tests and by the shell.
    const std::optional<DesktopState> &state() const { return m_state; }
    bool requestInFlight() const { return m_requestInFlight; }
    qint64 generation() const { return m_generation; }
    bool accepted() const { return m_accepted; }
    bool wantsAccept() const { return m_wantsAccept; }
    const std::optional<QString> &presentedID() const { return m_presentedID; }
    const QSet<QString> &dismissed() const { return m_dismissed; }
    const std::optional<QString> &restartID() const { return m_restartID; }
    qint64 lastSequence() const { return m_lastSequence; }
    bool hasFilter() const { return m_filter.has_value(); }
    bool panelShown() const { return m_panel != nullptr; }
    bool noticeOpen() const { return m_noticeOpen; }

private:
    using AnswerHandler = std::function<void(const std::optional<QJsonObject> &)>;

    void continueTick();
    void reset();
    void windowShouldClose();
    // Sends one "/support" action; false when the request cannot start.
    bool send(QLatin1StringView action, QJsonObject extra, AnswerHandler completion);
    void postEvent(const QJsonObject &event);

    Services m_services;
    const QString m_desktopFilePath;

    SupportModel m_model;
    QTimer m_timer;
    std::optional<DesktopState> m_state;
    std::unique_ptr<SupportPanel> m_panel;
    bool m_requestInFlight = false;
    qint64 m_generation = 0;
    bool m_accepted = false;
    bool m_wantsAccept = false;
    std::optional<QString> m_presentedID;
    QSet<QString> m_dismissed;
    std::optional<QString> m_restartID;
    qint64 m_lastSequence = 0;
    std::optional<platform::MainDisplay> m_filter;
    bool m_noticeOpen = false;
    bool m_started = false;
};

} // namespace pelk::support
