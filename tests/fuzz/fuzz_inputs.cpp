// Feeds arbitrary bytes to every decoder of what others write: the agent's files, its answers
// to the support requests, the recovery request on standard input, and the requests the agent
// simulator reads. The first byte picks the decoder, the rest is its input:
//   s status record   p enrollment profile   t timestamp   l lock record   d desktop state
//   a support answer (replayed through the support controller)   r recovery request
//   h HTTP requests to the simulator
// Besides surviving, each checks a property: whatever decodes survives being written out and
// read again unchanged; a lock record that decodes is unlocked only when it says exactly false;
// no replayed input leaves the screen; the HTTP reader gives the same requests however the
// bytes are split.

#include "fakes/FakeApiRequester.h"
#include "fakes/FakeClock.h"

#include "HttpRequestParser.h"
#include "Property.h"
#include "agent/AgentStatus.h"
#include "agent/Profile.h"
#include "agent/Timestamp.h"
#include "boundary/AgentBoundary.h"
#include "lock/LockState.h"
#include "platform/ConsoleSession.h"
#include "recovery/RecoveryRequest.h"
#include "support/DesktopState.h"
#include "support/KeyTable.h"
#include "support/RemoteSupportController.h"
#include "support/SupportWindows.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

using namespace Qt::StringLiterals;
using namespace pelk;
namespace key = boundary::key;

namespace {

QByteArray written(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

template <typename T> void putOptional(QJsonObject &o, QLatin1StringView name, const std::optional<T> &value)
{
    if (value)
        o.insert(name, *value);
}

bool checkStatus(const QByteArray &bytes)
{
    const auto status = agent::AgentStatus::decode(bytes);
    if (!status)
        return false;
    QJsonObject o { { key::kPhase, status->phase }, { key::kMessage, status->message } };
    putOptional(o, key::kVersion, status->version);
    putOptional(o, key::kWorkspace, status->workspace);
    putOptional(o, key::kBaseUrl, status->baseURL);
    putOptional(o, key::kDeviceName, status->deviceName);
    putOptional(o, key::kDeviceId, status->deviceID);
    putOptional(o, key::kUpdatedAt, status->updatedAt);
    putOptional(o, key::kLastCheckin, status->lastCheckin);
    putOptional(o, key::kNextCheckinSeconds, status->nextCheckinSeconds);
    putOptional(o, key::kSigningReady, status->signingReady);
    putOptional(o, key::kBrowserHistoryEnabled, status->browserHistoryEnabled);
    putOptional(o, key::kEnrolled, status->enrolled);
    require(agent::AgentStatus::decode(written(o)) == status, "status record survives a round trip");
    agent::timestamp(status->updatedAt);
    agent::timestamp(status->lastCheckin);
    return true;
}

bool checkProfile(const QByteArray &bytes)
{
    const auto p = agent::Profile::decode(bytes);
    if (!p)
        return false;
    const auto fields = [](const agent::Profile &r) {
        return std::tie(r.format, r.version, r.baseURL, r.workspace, r.deviceName, r.deviceID, r.platform, r.role,
            r.enrollmentToken, r.expiresAt);
    };
    const auto again = agent::Profile::decode(written({ { key::kFormat, p->format }, { key::kVersion, p->version },
        { key::kBaseUrl, p->baseURL }, { key::kWorkspace, p->workspace }, { key::kDeviceName, p->deviceName },
        { key::kDeviceId, p->deviceID }, { key::kPlatform, p->platform }, { key::kRole, p->role },
        { key::kEnrollmentToken, p->enrollmentToken }, { key::kExpiresAt, p->expiresAt } }));
    require(again && fields(*again) == fields(*p), "profile survives a round trip");
    agent::timestamp(p->expiresAt);
    return true;
}

bool checkTimestamp(const QByteArray &bytes)
{
    const auto instant = agent::timestamp(QString::fromUtf8(bytes));
    if (!instant)
        return false;
    require(instant->isValid() && instant->timeSpec() == Qt::UTC, "a timestamp is a valid UTC instant");
    const QString text = instant->toString(u"yyyy-MM-ddTHH:mm:ss.zzzZ"_s);
    require(agent::timestamp(text) == instant, "a timestamp survives a round trip");
    return true;
}

bool checkLock(const QByteArray &bytes)
{
    const auto state = lock::LockState::decode(bytes);
    if (!state)
        return false;
    // A strict reader took the document, so a lenient one sees the same single "locked".
    if (!state->locked)
        require(QJsonDocument::fromJson(bytes).object().value(key::kLocked) == QJsonValue(false),
            "a lock record is unlocked only when it says exactly false");
    QJsonObject o { { key::kLocked, state->locked }, { key::kCommandUuid, state->commandUuid } };
    putOptional(o, key::kMessage, state->message);
    putOptional(o, key::kUrl, state->url);
    putOptional(o, key::kSession, state->session);
    const auto fields
        = [](const lock::LockState &r) { return std::tie(r.locked, r.commandUuid, r.message, r.url, r.session); };
    const auto again = lock::LockState::decode(written(o));
    require(again && fields(*again) == fields(*state), "lock record survives a round trip");
    return true;
}

QJsonObject encoded(const support::DesktopState &s)
{
    QJsonObject o { { key::kUrl, s.url }, { key::kSession, s.session } };
    if (s.support) {
        o.insert(key::kSupport,
            QJsonObject { { key::kSessionId, s.support->sessionID }, { key::kTechnician, s.support->technician },
                { key::kMode, s.support->mode }, { key::kExpiresAt, s.support->expiresAt } });
    }
    if (s.restart) {
        o.insert(
            key::kRestart, QJsonObject { { key::kId, s.restart->id }, { key::kApplication, s.restart->application } });
    }
    return o;
}

bool checkDesktop(const QByteArray &bytes)
{
    const auto state = support::DesktopState::decode(bytes);
    if (!state)
        return false;
    const auto fields = [](const support::DesktopState &r) { return std::tie(r.url, r.session, r.support, r.restart); };
    const auto again = support::DesktopState::decode(written(encoded(*state)));
    require(again && fields(*again) == fields(*state), "desktop state survives a round trip");
    return true;
}

bool checkRecovery(const QByteArray &bytes)
{
    const auto request = recovery::RecoveryRequest::decode(bytes);
    if (!request)
        return false;
    const auto again = recovery::RecoveryRequest::decode(written(
        { { key::kUsername, request->username }, { key::kPassword, request->password }, { key::kUid, request->uid } }));
    require(again && again->username == request->username && again->password == request->password
            && again->uid == request->uid,
        "recovery request survives a round trip");
    request->withinLimits();
    return true;
}

// A support session in control mode, sharing a display that does not start at the origin, with
// every service a fake that checks what reaches it. The fuzzed bytes answer one frame.
struct SupportSession : platform::ConsoleSession,
                        platform::ScreenCapture,
                        platform::InputInjector,
                        support::PanelPresenter,
                        support::NoticePresenter {
    static inline const QRect kDisplay { 100, 50, 1280, 720 };
    struct Panel : support::SupportPanel { };

    fakes::FakeApiRequester requester;
    fakes::FakeClock clock;
    support::RemoteSupportController controller;
    std::function<void(std::optional<platform::MainDisplay>)> lookup;
    std::function<void(std::optional<QByteArray>)> shot;
    int posted = 0;

    explicit SupportSession(const QString &desktopFile)
        : controller({ *this, *this, *this, *this, *this, requester, clock }, desktopFile)
    {
        controller.start();
    }

    Properties properties() override { return {}; }
    bool isShareableSession() override { return true; }
    bool capturePermitted() override { return true; }
    std::optional<QRect> mainDisplayBounds() override { return kDisplay; }
    void findMainDisplay(std::function<void(std::optional<platform::MainDisplay>)> done) override
    {
        lookup = std::move(done);
    }
    void captureJpeg(
        const platform::MainDisplay &, QSize, int, std::function<void(std::optional<QByteArray>)> done) override
    {
        shot = std::move(done);
    }
    bool controlPermitted() override { return true; }
    bool postMouse(MouseEvent kind, QPointF at, int clicks, Button) override
    {
        require(at.x() >= kDisplay.left() && at.y() >= kDisplay.top() && at.x() <= kDisplay.right()
                && at.y() <= kDisplay.bottom(),
            "a replayed pointer event stays on the display");
        require(clicks == 1 || (clicks == 2 && kind != MouseEvent::Moved), "a click counts one or two");
        return ++posted;
    }
    bool postScroll(qint32 lines) override
    {
        require(lines >= -100 && lines <= 100, "a scroll is at most 100 lines");
        return ++posted;
    }
    bool postKey(Key key, Modifiers modifiers, bool) override
    {
        bool known = false;
        for (const Key &value : support::keys())
            known = known || (value.code == key.code && value.usKeysym == key.usKeysym);
        require(known, "a replayed key is one of the key table");
        require((modifiers.toInt() & ~0xf) == 0, "only the four modifiers");
        return ++posted;
    }
    std::unique_ptr<support::SupportPanel> showPanel(support::SupportModel &, std::function<void()>) override
    {
        return std::make_unique<Panel>();
    }
    void activate() override { }
    void showNotice(const QString &, const QString &, const QString &, std::function<void()>) override { }

    void answerLast(const QByteArray &body) { requester.answerBody(requester.sent.size() - 1, body); }
};

bool checkSupportAnswer(const QByteArray &bytes)
{
    static QTemporaryDir dir;
    static const QString desktopFile = [] {
        const QString path = dir.filePath(u"desktop.json"_s);
        QSaveFile file(path);
        require(file.open(QIODevice::WriteOnly)
                && file.write(R"({"url":"http://127.0.0.1:7777","session":"tok","support":{"session_id":"s1",)"
                              R"("technician":"Dana","mode":"control","expires_at":4102444800}})")
                    > 0
                && file.commit(),
            "the desktop file is written");
        return path;
    }();
    SupportSession s(desktopFile);
    s.controller.tick(); // shows the offer and polls
    s.answerLast(R"({"status":"requested"})");
    s.controller.model().allow();
    require(bool(s.lookup), "consent looks up the display");
    s.lookup(platform::MainDisplay { 1, SupportSession::kDisplay });
    s.answerLast(R"({"status":"active"})");
    s.controller.tick(); // captures a frame
    require(bool(s.shot), "an active session captures");
    s.shot(QByteArray("jpeg"));
    require(s.requester.sent.back().body.value(key::kAction) == u"frame"_s, "the frame is sent");
    s.answerLast(bytes);
    return s.posted > 0;
}

using agentsim::HttpRequest;
using agentsim::HttpRequestParser;

// Everything a parser makes of a byte stream: the requests and how it ended.
struct Parsed {
    QList<HttpRequest> requests;
    HttpRequestParser::Result last = HttpRequestParser::Result::NeedMore;
    int errorStatus = 0;
};

Parsed parseStream(const QByteArray &bytes, qsizetype chunk)
{
    HttpRequestParser parser({ 1024, 8, [](const QByteArray &path) { return path == "/support" ? 2048 : 64; } });
    Parsed out;
    for (qsizetype at = 0; at < bytes.size() && out.last != HttpRequestParser::Result::Error; at += chunk) {
        parser.append(QByteArrayView(bytes).sliced(at, std::min(chunk, bytes.size() - at)));
        while ((out.last = parser.parse()) == HttpRequestParser::Result::Complete)
            out.requests.append(parser.takeRequest());
    }
    out.errorStatus = parser.errorStatus();
    return out;
}

bool sameRequest(const HttpRequest &a, const HttpRequest &b)
{
    return a.method == b.method && a.target == b.target && a.path == b.path && a.version == b.version
        && a.headers == b.headers && a.body == b.body;
}

bool checkHttp(const QByteArray &bytes)
{
    const Parsed whole = parseStream(bytes, bytes.size() + 1);
    const Parsed bytewise = parseStream(bytes, 1);
    require(whole.requests.size() == bytewise.requests.size() && whole.last == bytewise.last
            && whole.errorStatus == bytewise.errorStatus,
        "the same requests however the bytes arrive");
    for (qsizetype i = 0; i < whole.requests.size(); ++i) {
        const HttpRequest &r = whole.requests[i];
        require(sameRequest(r, bytewise.requests[i]), "the same request however the bytes arrive");
        require(r.body.size() <= (r.path == "/support" ? 2048 : 64), "a body within its path's limit");
        // Written out again in the plainest form, the request reads back the same.
        QByteArray again = r.method + ' ' + r.target + ' ' + r.version + "\r\n";
        for (const auto &[name, value] : r.headers)
            again += name + ": " + value + "\r\n";
        again += "\r\n" + r.body;
        const Parsed reread = parseStream(again, again.size());
        require(
            reread.requests.size() == 1 && sameRequest(reread.requests.front(), r), "a request survives a round trip");
    }
    return !whole.requests.isEmpty();
}

} // namespace

// Runs and accepted inputs of each decoder, printed when the run ends.
std::map<char, std::array<unsigned long long, 2>> tally;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv); // the support controller's timers need one
    std::atexit([] {
        for (const auto &[family, counts] : tally)
            std::fprintf(stderr, "decoder %c runs %llu accepted %llu\n", family, counts[0], counts[1]);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::map<char, bool (*)(const QByteArray &)> decoders { { 's', checkStatus }, { 'p', checkProfile },
        { 't', checkTimestamp }, { 'l', checkLock }, { 'd', checkDesktop }, { 'a', checkSupportAnswer },
        { 'r', checkRecovery }, { 'h', checkHttp } };
    const auto decoder = size > 0 ? decoders.find(char(data[0])) : decoders.end();
    if (decoder == decoders.end())
        return -1; // not one of ours: keep it out of the corpus
    const bool accepted = decoder->second(QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)));
    auto &counts = tally[decoder->first];
    ++counts[0];
    counts[1] += accepted ? 1 : 0;
    return 0;
}
