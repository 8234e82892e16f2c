// The X11 display services against a private Xvfb: capture size and content, XTEST buttons, wheel and
// modifiers. (Pointer moves, and refusing a Wayland session, run in support_e2e.py.)

#include "fakes/PrivateXvfb.h"
#include "platform/linux/X11Desktop.h"

#include <QImage>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace Qt::StringLiterals;
using pelk::platform::InputInjector;
using pelk::platform::X11Desktop;
using Mouse = InputInjector::MouseEvent;

class TestX11Desktop : public QObject {
    Q_OBJECT
private:
    pelk::fakes::PrivateXvfb m_server;
    xcb_connection_t *m_c = nullptr;

    // The next key or button press on our window (both share one layout), dropping other events.
    std::optional<xcb_button_press_event_t> nextPress(quint8 type)
    {
        std::optional<xcb_button_press_event_t> found;
        (void)QTest::qWaitFor(
            [&] {
                while (!found) {
                    xcb_generic_event_t *e = xcb_poll_for_event(m_c);
                    if (!e)
                        return false;
                    if ((e->response_type & 0x7f) == type)
                        found = *reinterpret_cast<xcb_button_press_event_t *>(e);
                    std::free(e);
                }
                return true;
            },
            5000);
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::PrivateXvfb::available())
            QSKIP("Xvfb is needed (scripts/install-deps.sh)");
        QVERIFY(m_server.start(u"1280x800x24"_s));
        m_c = xcb_connect(m_server.display().constData(), nullptr);
        QVERIFY(!xcb_connection_has_error(m_c));
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        // A red window at (200, 100), 300 by 200, listening for keys and buttons.
        const xcb_window_t window = xcb_generate_id(m_c);
        const quint32 values[] = { 0xff0000, 1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS };
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, window, screen->root, 200, 100, 300, 200, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(m_c, window);
        xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); // round trip
    }

    void cleanupTestCase()
    {
        if (m_c)
            xcb_disconnect(m_c);
    }

    void capturesTheScreenAtTheAskedSize()
    {
        X11Desktop desktop;
        QVERIFY(desktop.isShareableSession() && desktop.capturePermitted());
        QCOMPARE(desktop.mainDisplayBounds(), std::optional<QRect>(QRect(0, 0, 1280, 800)));
        for (const QSize size : { QSize(640, 400), QSize(1280, 800), QSize(640, 400) }) { // the segment is reused
            std::optional<std::optional<QByteArray>> jpeg;
            desktop.captureJpeg({}, size, 55, [&](std::optional<QByteArray> result) { jpeg = std::move(result); });
            QVERIFY(!jpeg); // never from inside the call
            QTRY_VERIFY(jpeg && *jpeg);
            const QImage image = QImage::fromData(**jpeg, "JPEG");
            QCOMPARE(image.size(), size);
            const double scale = size.width() / 1280.0;
            const QColor inside = image.pixelColor(int(350 * scale), int(200 * scale));
            const QColor outside = image.pixelColor(int(100 * scale), int(600 * scale));
            QVERIFY2(inside.red() > 200 && inside.green() < 60 && inside.blue() < 60, qPrintable(inside.name()));
            QVERIFY2(outside.red() < 60, qPrintable(outside.name()));
        }
    }

    void buttonsAndScrollReachTheWindow()
    {
        X11Desktop desktop;
        QVERIFY(desktop.controlPermitted());
        QVERIFY(desktop.postMouse(Mouse::RightDown, QPointF(300, 150), 1, InputInjector::Button::Right));
        QVERIFY(desktop.postMouse(Mouse::RightUp, QPointF(300, 150), 1, InputInjector::Button::Right));
        const auto press = nextPress(XCB_BUTTON_PRESS);
        QVERIFY(press && press->detail == 3 && press->event_x == 100);
        QVERIFY(desktop.postScroll(-2));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(nextPress(XCB_BUTTON_PRESS).value_or(xcb_button_press_event_t {}).detail, 5); // down
    }

    void keysCarryTheirModifiers()
    {
        const auto both = InputInjector::Modifier::Control | InputInjector::Modifier::Shift;
        X11Desktop desktop;
        QVERIFY(desktop.postKey('c', both, true) && desktop.postKey('c', both, false));
        // Shift and Control go down first; the key arrives with both held.
        nextPress(XCB_KEY_PRESS);
        nextPress(XCB_KEY_PRESS);
        const auto key = nextPress(XCB_KEY_PRESS);
        QVERIFY(key);
        QCOMPARE(key->state & (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL), XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL);
        QVERIFY(!desktop.postKey(0x1234567, {}, true)); // no key for it on this keyboard
    }
};

QTEST_GUILESS_MAIN(TestX11Desktop)
#include "test_x11_desktop.moc"
