#include "fakes/MockSystemBus.h"
#include "platform/Files.h"
#include "platform/linux/PortalRemoteDesktop.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <linux/input-event-codes.h>
#include <unistd.h>

using namespace pelk::platform;
using namespace Qt::StringLiterals;
using Mouse = InputInjector::MouseEvent;

namespace {

// A grey picture from the start, until the test ends the stream.
struct FakeFrames : PortalFrames {
    std::vector<uchar> pixels = std::vector<uchar>(128 * 48 * 4, 0x80);
    int width = 64;
    bool streaming = true;
    std::function<void()> changed;
    bool running() override { return streaming; }
    std::optional<Picture> latest() override { return Picture { pixels.data(), width, 48, width * 4 }; }
};

} // namespace

// PortalRemoteDesktop against a fake desktop portal on a private session bus.
class TestPortalRemoteDesktop : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    pelk::fakes::MockSystemBus m_bus;
    QProcess m_portal;
    // The nodes opened (0 without a usable PipeWire descriptor), and the frames of the last one.
    QList<quint32> m_opened;
    FakeFrames *m_frames = nullptr;

    QString tokenPath() const { return m_home.filePath(u"state/pelk-agent/portal-restore-token"_s); }
    QByteArray savedToken() const { return readRegularFile(tokenPath(), 100).value_or(QByteArray()); }
    QDBusMessage test(const QString &method, const QVariantList &arguments = {})
    {
        return m_bus.call(u"/org/freedesktop/portal/desktop"_s, u"org.pelk.Test"_s, method, arguments);
    }
    // What the portal was sent since the last forget(): [method, [arguments]] each.
    QJsonArray calls() { return QJsonDocument::fromJson(test(u"Calls"_s).arguments().value(0).toByteArray()).array(); }
    void forget() { test(u"Forget"_s); }

    std::unique_ptr<PortalRemoteDesktop> desktop()
    {
        auto desktop = std::make_unique<PortalRemoteDesktop>(
            m_bus.bus(), tokenPath(), [this](int fd, quint32 node, std::function<void()> changed) {
                m_opened << (::close(fd) == 0 ? node : 0);
                auto frames = std::make_unique<FakeFrames>();
                m_frames = frames.get();
                m_frames->changed = changed;
                QTimer::singleShot(0, changed);
                return frames;
            });
        Q_UNUSED(QTest::qWaitFor([&] { return desktop->isShareableSession(); }));
        return desktop;
    }
    template <typename T, typename Ask> static std::optional<T> await(Ask ask)
    {
        std::optional<std::optional<T>> answer;
        ask([&answer](std::optional<T> value) { answer = value; });
        return QTest::qWaitFor([&] { return answer.has_value(); }) ? *answer : std::nullopt;
    }
    static std::optional<MainDisplay> find(PortalRemoteDesktop &desktop)
    {
        return await<MainDisplay>([&](auto done) { desktop.findMainDisplay(done); });
    }
    static std::optional<QByteArray> capture(PortalRemoteDesktop &desktop)
    {
        return await<QByteArray>([&](auto done) { desktop.captureJpeg({}, QSize(32, 24), 55, done); });
    }
    static QJsonArray parse(const char *json) { return QJsonDocument::fromJson(json).array(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::MockSystemBus::available())
            QSKIP("needs dbus-daemon and python3");
        QVERIFY(m_bus.start(QString(), u"org.freedesktop.portal.Desktop"_s));
        m_portal.setEnvironment(QProcess::systemEnvironment() << u"DBUS_SESSION_BUS_ADDRESS="_s + m_bus.address());
        m_portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    void init()
    {
        if (m_portal.state() == QProcess::NotRunning) // at first, and after a test ended it
            m_portal.start(u"/usr/bin/python3"_s, { QStringLiteral(FAKE_PORTAL) });
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.serviceRegistered(), 20000);
        forget();
    }

    // The first session asks for a lasting grant and keeps its token; input goes in stream terms,
    // which follow the stream's size.
    void sessionKeepsItsTokenForTheNext()
    {
        auto first = desktop();
        const auto display = find(*first);
        QCOMPARE(display ? std::pair(display->id, display->bounds) : std::pair(0u, QRect()),
            std::pair(44u, QRect(1920, 0, 1280, 1024)));
        QCOMPARE(calls(), parse(R"([["CreateSession", [{}]], ["SelectDevices", [{"types": 3, "persist_mode": 2}]],
                ["SelectSources", [{"types": 1, "multiple": false, "cursor_mode": 2}]], ["Start", ["", {}]]])"));
        QCOMPARE(m_opened, QList<quint32>({ 44 }));
        QVERIFY(capture(*first).value_or(QByteArray()).startsWith("\xff\xd8"));
        QCOMPARE(savedToken(), "token-1");
        QCOMPARE(QFile::permissions(tokenPath()) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        forget();

        QVERIFY(first->postMouse(Mouse::LeftDown, { 2020, 50 }, 1, InputInjector::Button::Left));
        QVERIFY(first->postMouse(Mouse::RightUp, { 3199, 1023 }, 1, InputInjector::Button::Right));
        QVERIFY(first->postScroll(3));
        QVERIFY(first->postKey({ KEY_C, 'c' }, InputInjector::Modifier::Control, true));
        QVERIFY(first->postKey({ KEY_C, 'c' }, InputInjector::Modifier::Control, false));
        QTRY_COMPARE(
            calls(), parse(R"([["NotifyPointerMotionAbsolute", [44, 100, 50]], ["NotifyPointerButton", [272, 1]],
                ["NotifyPointerMotionAbsolute", [44, 1279, 1023]], ["NotifyPointerButton", [273, 0]],
                ["NotifyPointerAxisDiscrete", [0, -3]], ["NotifyKeyboardKeycode", [29, 1]],
                ["NotifyKeyboardKeycode", [46, 1]], ["NotifyKeyboardKeycode", [46, 0]],
                ["NotifyKeyboardKeycode", [29, 0]]])"));
        forget();
        m_frames->width = 80; // a new monitor mode: once a picture of it is taken, the pointer follows
        QVERIFY(capture(*first));
        QVERIFY(first->postMouse(Mouse::Moved, { 3400, 50 }, 1, InputInjector::Button::Left));
        QTRY_COMPARE(calls(), parse(R"([["NotifyPointerMotionAbsolute", [44, 1480, 50]]])"));
        forget();
        first.reset();
        QTRY_COMPARE(calls(), parse(R"([["Close", []]])"));
        forget();

        auto second = desktop();
        QVERIFY(find(*second));
        QCOMPARE(calls().at(1),
            parse(R"(["SelectDevices", [{"types": 3, "persist_mode": 2, "restore_token": "token-1"}]])"));
        QCOMPARE(savedToken(), "token-2");
    }

    void refusedSessionGivesNoDisplay_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<uint>("devices");
        QTest::newRow("the user cancelled") << 1u << 3u;
        QTest::newRow("remote interaction switched off") << 0u << 0u;
        QTest::newRow("keyboard only") << 0u << 1u;
    }
    // The user saying no leaves no session and no token; asking again starts afresh.
    void refusedSessionGivesNoDisplay()
    {
        QFETCH(uint, code);
        QFETCH(uint, devices);
        test(u"AnswerStart"_s, { code, devices });
        auto desktop = this->desktop();
        QVERIFY(!find(*desktop));
        test(u"AnswerStart"_s, { 0u, 3u });
        QVERIFY(!desktop->postMouse(Mouse::Moved, { 2020, 50 }, 1, InputInjector::Button::Left));
        QVERIFY(!QFile::exists(tokenPath()));
        QVERIFY(find(*desktop));
        const QJsonArray sent = calls();
        QCOMPARE(sent.at(4), parse(R"(["Close", []])"));
        QCOMPARE(sent.at(5), parse(R"(["CreateSession", [{}]])"));
    }

    void endedSessionWithdrawsCapture_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("the portal closed it") << u"close"_s;
        QTest::newRow("its stream ended") << u"stream"_s;
        QTest::newRow("the portal's process died") << u"kill"_s;
    }
    void endedSessionWithdrawsCapture()
    {
        QFETCH(QString, end);
        auto desktop = this->desktop();
        QVERIFY(find(*desktop));
        QVERIFY(desktop->capturePermitted() && desktop->controlPermitted());
        if (end == u"close") {
            test(u"CloseSession"_s);
        } else if (end == u"stream") {
            m_frames->streaming = false;
            m_frames->changed();
        } else {
            m_portal.kill();
            m_portal.waitForFinished();
        }
        QTRY_VERIFY(!desktop->capturePermitted());
        QVERIFY(!desktop->controlPermitted());
        QVERIFY(!capture(*desktop));
    }

    // Before version 2 the portal knows no lasting grant: none is asked for, whatever is saved.
    void olderPortalAsksEveryTime()
    {
        QVERIFY(QFile::exists(tokenPath()));
        test(u"SetVersion"_s, { 1u });
        auto desktop = this->desktop();
        test(u"SetVersion"_s, { 2u });
        QVERIFY(find(*desktop));
        QCOMPARE(calls().at(1), parse(R"(["SelectDevices", [{"types": 3}]])"));
    }
};

QTEST_GUILESS_MAIN(TestPortalRemoteDesktop)
#include "test_portal_remote_desktop.moc"
