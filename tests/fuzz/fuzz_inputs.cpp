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
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>
#include <utility>

using namespace Qt::StringLiterals;
using namespace pelk;
using std::pair;
namespace key = boundary::key;

namespace {

// A key in the file and the member it fills: what a round trip writes out and compares.
template <typename T, typename M> using Field = std::pair<QLatin1StringView, M T::*>;

void put(QJsonObject &o, QLatin1StringView name, const QJsonValue &value)
{
    o.insert(name, value);
}
void put(QJsonObject &o, QLatin1StringView name, const support::Offer &offer);
void put(QJsonObject &o, QLatin1StringView name, const support::Restart &restart);
template <typename V> void put(QJsonObject &o, QLatin1StringView name, const std::optional<V> &value)
{
    if (value)
        put(o, name, *value);
}

template <typename T, typename... M> QJsonObject encode(const T &record, const Field<T, M> &...fields)
{
    QJsonObject o;
    (put(o, fields.first, record.*fields.second), ...);
    return o;
}

void put(QJsonObject &o, QLatin1StringView name, const support::Offer &offer)
{
    using O = support::Offer;
    o.insert(name,
        encode(offer, pair(key::kSessionId, &O::sessionID), pair(key::kTechnician, &O::technician),
            pair(key::kMode, &O::mode), pair(key::kExpiresAt, &O::expiresAt)));
}

void put(QJsonObject &o, QLatin1StringView name, const support::Restart &restart)
{
    using R = support::Restart;
    o.insert(name, encode(restart, pair(key::kId, &R::id), pair(key::kApplication, &R::application)));
}

// The decoded record; whatever decodes is written out with these fields and must read back the same.
template <typename T, typename... M>
std::optional<T> roundTrip(const QByteArray &bytes, const char *property, const Field<T, M> &...fields)
{
    const std::optional<T> first = T::decode(bytes);
    if (first) {
        const auto again = T::decode(QJsonDocument(encode(*first, fields...)).toJson(QJsonDocument::Compact));
        require(again && (((*again).*fields.second == (*first).*fields.second) && ...), property);
    }
    return first;
}

bool checkStatus(const QByteArray &bytes)
{
    using S = agent::AgentStatus;
    const auto status = roundTrip(bytes, "status record survives a round trip", pair(key::kPhase, &S::phase),
        pair(key::kMessage, &S::message), pair(key::kVersion, &S::version), pair(key::kWorkspace, &S::workspace),
        pair(key::kBaseUrl, &S::baseURL), pair(key::kDeviceName, &S::deviceName), pair(key::kDeviceId, &S::deviceID),
        pair(key::kUpdatedAt, &S::updatedAt), pair(key::kLastCheckin, &S::lastCheckin),
        pair(key::kNextCheckinSeconds, &S::nextCheckinSeconds), pair(key::kSigningReady, &S::signingReady),
        pair(key::kBrowserHistoryEnabled, &S::browserHistoryEnabled), pair(key::kEnrolled, &S::enrolled));
    if (status)
        agent::timestamp(status->updatedAt), agent::timestamp(status->lastCheckin);
    return status.has_value();
}

bool checkProfile(const QByteArray &bytes)
{
    using P = agent::Profile;
    const auto profile = roundTrip(bytes, "profile survives a round trip", pair(key::kFormat, &P::format),
        pair(key::kVersion, &P::version), pair(key::kBaseUrl, &P::baseURL), pair(key::kWorkspace, &P::workspace),
        pair(key::kDeviceName, &P::deviceName), pair(key::kDeviceId, &P::deviceID), pair(key::kPlatform, &P::platform),
        pair(key::kRole, &P::role), pair(key::kEnrollmentToken, &P::enrollmentToken),
        pair(key::kExpiresAt, &P::expiresAt));
    if (profile)
        agent::timestamp(profile->expiresAt);
    return profile.has_value();
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
    using L = lock::LockState;
    const auto state = roundTrip(bytes, "lock record survives a round trip", pair(key::kLocked, &L::locked),
        pair(key::kCommandUuid, &L::commandUuid), pair(key::kMessage, &L::message), pair(key::kUrl, &L::url),
        pair(key::kSession, &L::session));
    // A strict reader took the document, so a lenient one sees the same single "locked".
    require(!state || state->locked || QJsonDocument::fromJson(bytes).object().value(key::kLocked) == QJsonValue(false),
        "a lock record is unlocked only when it says exactly false");
    return state.has_value();
}

bool checkDesktop(const QByteArray &bytes)
{
    using D = support::DesktopState;
    return roundTrip(bytes, "desktop state survives a round trip", pair(key::kUrl, &D::url),
        pair(key::kSession, &D::session), pair(key::kSupport, &D::support), pair(key::kRestart, &D::restart))
        .has_value();
}

bool checkRecovery(const QByteArray &bytes)
{
    using R = recovery::RecoveryRequest;
    const auto request = roundTrip(bytes, "recovery request survives a round trip", pair(key::kUsername, &R::username),
        pair(key::kPassword, &R::password), pair(key::kUid, &R::uid));
    return request && (request->withinLimits(), true);
}

// A support session in control mode, sharing a display that does not start at the origin, with
// every service a fake that checks what reaches it. The fuzzed bytes answer one frame.
struct SupportSession : platform::ConsoleSession,
                        platform::ScreenCapture,
                        platform::InputInjector,
                        support::PanelPresenter,
                        support::NoticePresenter {
    static inline const QRect kDisplay { 100, 50, 1280, 720 };

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
        require(std::ranges::any_of(
                    support::keys(), [&](const Key &k) { return k.code == key.code && k.usKeysym == key.usKeysym; }),
            "a replayed key is one of the key table");
        require((modifiers.toInt() & ~0xf) == 0, "only the four modifiers");
        return ++posted;
    }
    std::unique_ptr<support::SupportPanel> showPanel(support::SupportModel &, std::function<void()>) override
    {
        return std::make_unique<support::SupportPanel>();
    }
    void activate() override { }
    void showNotice(const QString &, const QString &, const QString &, std::function<void()>) override { }

    void answerLast(const QByteArray &body) { requester.answerBody(requester.sent.size() - 1, body); }
};

bool checkSupportAnswer(const QByteArray &bytes)
{
    static QTemporaryDir dir;
    static const QString desktopFile = [] {
        QFile file(dir.filePath(u"desktop.json"_s));
        require(file.open(QIODevice::WriteOnly)
                && file.write(R"({"url":"http://127.0.0.1:7777","session":"tok","support":{"session_id":"s1",)"
                              R"("technician":"Dana","mode":"control","expires_at":4102444800}})")
                    > 0,
            "the desktop file is written");
        return file.fileName();
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

qsizetype bodyLimit(const QByteArray &path)
{
    return path == "/support" ? 2048 : 64;
}

// A request written out in the plainest form.
QByteArray plain(const HttpRequest &r)
{
    QByteArray out = r.method + ' ' + r.target + ' ' + r.version + "\r\n";
    for (const auto &[name, value] : r.headers)
        out += name + ": " + value + "\r\n";
    return out + "\r\n" + r.body;
}

// Everything a parser makes of a byte stream fed in chunks of a size: the requests and how it ended.
struct Parsed {
    QList<std::pair<QByteArray, QByteArray>> requests; // the path the parser made of each, and plain()
    HttpRequestParser::Result last = HttpRequestParser::Result::NeedMore;
    int errorStatus = 0;
    bool operator==(const Parsed &) const = default;
};

Parsed parseStream(QByteArrayView bytes, qsizetype chunk)
{
    HttpRequestParser parser({ 1024, 8, bodyLimit });
    Parsed out;
    for (qsizetype at = 0; at < bytes.size() && out.last != HttpRequestParser::Result::Error; at += chunk) {
        parser.append(bytes.sliced(at, std::min(chunk, bytes.size() - at)));
        while ((out.last = parser.parse()) == HttpRequestParser::Result::Complete) {
            const HttpRequest r = parser.takeRequest();
            require(r.body.size() <= bodyLimit(r.path), "a body within its path's limit");
            out.requests.append({ r.path, plain(r) });
        }
    }
    out.errorStatus = parser.errorStatus();
    return out;
}

bool checkHttp(const QByteArray &bytes)
{
    const Parsed whole = parseStream(bytes, bytes.size() + 1);
    require(parseStream(bytes, 1) == whole, "the same requests however the bytes arrive");
    // Written out again in the plainest form, each request reads back the same.
    for (const auto &request : whole.requests)
        require(parseStream(request.second, request.second.size()).requests == QList { request },
            "a request survives a round trip");
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
