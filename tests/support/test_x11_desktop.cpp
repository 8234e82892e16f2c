// The X11 display services against a private Xvfb: capture size and content, frames after a
// partial change, a pointer move or a new size equal to a full capture, the lockdown taking
// the console-switch keys (SwitchScreen actions, Ctrl+Alt+F1…F12) out of the keymap and putting
// every key's actions back exactly, and the screen saver turning on reported as display sleep
// (turning off is not); without a usable display nothing is watched. (Pointer, buttons, wheel and keys with modifiers,
// the saver ending a session and refusing a Wayland session run in support_e2e.py.)

#include "fakes/JpegDifference.h"
#include "fakes/PrivateXvfb.h"
#include "platform/linux/X11Desktop.h"
#include "platform/linux/X11DesktopLockdown.h"
#include "platform/linux/X11DisplaySleepWatcher.h"
#include "platform/linux/X11LockKeeper.h"

#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <functional>

using namespace Qt::StringLiterals;
using namespace pelk::platform;

class TestX11Desktop : public QObject {
    Q_OBJECT
    pelk::fakes::PrivateXvfb m_server;
    xcb_connection_t *m_c = nullptr;
    xcb_screen_t *m_screen = nullptr;

    // An override-redirect window filled with that colour, mapped unless told.
    xcb_window_t window(QRect r, quint32 colour = 0, bool map = true)
    {
        const xcb_window_t id = xcb_generate_id(m_c);
        const quint32 values[] = { colour, 1 };
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, id, m_screen->root, int16_t(r.x()), int16_t(r.y()),
            uint16_t(r.width()), uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        if (map)
            xcb_map_window(m_c, id);
        xcb_flush(m_c);
        return id;
    }
    // Returns once the server has handled every request before it.
    void roundTrip() const { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    // "activate" or "reset"; xset exits once the server has handled its request.
    static bool saver(const char *state)
    {
        return QProcess::execute(u"xset"_s, { u"s"_s, QString::fromLatin1(state) }) == 0;
    }

    // Every key's actions (8 bytes each, key after key), through xcb's own decoding.
    QByteArray keyActions() const
    {
        const xcb_setup_t *setup = xcb_get_setup(m_c);
        xcb_xkb_get_map_reply_t *map = xcb_xkb_get_map_reply(m_c,
            xcb_xkb_get_map(m_c, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_MAP_PART_KEY_ACTIONS, 0, 0, 0, 0,
                setup->min_keycode, uint8_t(setup->max_keycode - setup->min_keycode + 1), 0, 0, 0, 0, 0, 0, 0, 0, 0),
            nullptr);
        xcb_xkb_get_map_map_t parts {};
        xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(map), map->nTypes, map->nKeySyms, map->nKeyActions,
            map->totalActions, map->totalKeyBehaviors, map->virtualMods, map->totalKeyExplicit, map->totalModMapKeys,
            map->totalVModMapKeys, map->present, &parts);
        const QByteArray actions(reinterpret_cast<const char *>(parts.acts_rtrn_acts), map->totalActions * 8);
        std::free(map);
        return actions;
    }
    int consoleSwitches() const
    {
        const QByteArray actions = keyActions();
        int count = 0;
        for (qsizetype i = 0; i < actions.size(); i += 8)
            count += actions[i] == XCB_XKB_SA_TYPE_SWITCH_SCREEN;
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::PrivateXvfb::available() || QStandardPaths::findExecutable(u"xset"_s).isEmpty())
            QSKIP("Xvfb and xset are needed (scripts/install-deps.sh)");
        QVERIFY(m_server.start(u"1280x800x24"_s));
        m_c = xcb_connect(m_server.display().constData(), nullptr);
        QVERIFY(!xcb_connection_has_error(m_c));
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        window(QRect(200, 100, 300, 200), 0xff0000);
        roundTrip();
        std::free(xcb_xkb_use_extension_reply(m_c, xcb_xkb_use_extension(m_c, 1, 0), nullptr));
    }

    void capturesTheScreenAtTheAskedSize()
    {
        X11Desktop desktop;
        QVERIFY(desktop.isShareableSession() && desktop.capturePermitted() && desktop.controlPermitted());
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
        QVERIFY(!desktop.postKey({ 0xffff, 0 }, {}, true)); // no key there on this keyboard
    }

    void framesAfterChangesMatchAFullCapture()
    {
        const xcb_window_t blue = window(QRect(601, 301, 400, 300), 0x2040c0, false);
        const xcb_gcontext_t gc = xcb_generate_id(m_c);
        const quint32 yellow = 0xffff00;
        xcb_create_gc(m_c, gc, blue, XCB_GC_FOREGROUND, &yellow);
        const xcb_rectangle_t rects[] = { { 11, 13, 41, 31 }, { 201, 151, 93, 57 } }; // odd edges
        const std::pair<std::function<void()>, QSize> steps[] = {
            { [&] { xcb_map_window(m_c, blue); }, QSize(640, 400) },
            { [&] { // two requests: damage keeps two rectangles, not their bounds
                 xcb_poly_fill_rectangle(m_c, blue, gc, 1, &rects[0]);
                 xcb_poly_fill_rectangle(m_c, blue, gc, 1, &rects[1]);
             },
                QSize(640, 400) },
            { [&] { xcb_warp_pointer(m_c, XCB_NONE, m_screen->root, 0, 0, 0, 0, 333, 555); }, QSize(640, 400) },
            { [] {}, QSize(1280, 800) }, // a new size alone
        };
        X11Desktop desktop;
        QVERIFY(desktop.captureJpegNow(QSize(640, 400), 55));
        for (const auto &[change, size] : steps) {
            change();
            roundTrip(); // drawn by now
            const std::optional<QByteArray> frame = desktop.captureJpegNow(size, 55);
            const std::optional<QByteArray> full = X11Desktop().captureJpegNow(size, 55);
            QVERIFY(frame && full);
            QCOMPARE_LE(pelk::fakes::jpegDifference(*frame, *full), 8);
        }
        // A still screen: the same bytes again.
        QCOMPARE(desktop.captureJpegNow(QSize(1280, 800), 55), desktop.captureJpegNow(QSize(1280, 800), 55));
        xcb_destroy_window(m_c, blue);
    }

    void consoleKeysAreGoneWhileLocked()
    {
        const auto before = keyActions();
        QVERIFY(consoleSwitches() >= 12); // Ctrl+Alt+F1…F12 at least
        for (const bool restored : { true, false }) { // by restore, then by the end of the lockdown
            {
                X11DesktopLockdown lockdown(m_c);
                lockdown.saveState();
                lockdown.saveState(); // a second lock record while locked takes nothing more
                QVERIFY(lockdown.force(0));
                QCOMPARE(consoleSwitches(), 0);
                if (restored)
                    lockdown.restore();
            }
            QCOMPARE(keyActions(), before);
        }
    }

    // The keeper has no tick of its own: what it puts right, it heard from the server. A lock
    // window unmapped by another client is mapped again, and a pop-up raised above it is covered.
    void keeperAnswersTheServer()
    {
        const auto topmost = [&] {
            xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_screen->root), nullptr);
            const xcb_window_t top = xcb_query_tree_children(tree)[xcb_query_tree_children_length(tree) - 1];
            std::free(tree);
            return top;
        };
        const auto mapped = [&](xcb_window_t id) {
            auto *state = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, id), nullptr);
            const bool viewable = state && state->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(state);
            return viewable;
        };
        const xcb_window_t lock = window(QRect(0, 0, 100, 100));
        X11LockKeeper keeper;
        int changes = 0;
        keeper.keep({ lock }, [&] { ++changes; });
        QTRY_COMPARE(topmost(), lock);
        xcb_unmap_window(m_c, lock);
        xcb_flush(m_c);
        QTRY_VERIFY(mapped(lock) && topmost() == lock);
        QTRY_VERIFY(changes > 0); // the grabs died with the unmapped window
        const xcb_window_t popup = window(QRect(0, 0, 100, 100));
        QTRY_COMPARE(topmost(), lock);
        xcb_destroy_window(m_c, popup);
        xcb_destroy_window(m_c, lock);
        xcb_flush(m_c);
    }

    void watchesNothingWithoutAnX11Display()
    {
        // No display, one nobody serves, and a Wayland session (Xwayland's saver says nothing of the screen).
        const std::pair<const char *, QByteArray> settings[]
            = { { "DISPLAY", QByteArray() }, { "DISPLAY", ":4711" }, { "WAYLAND_DISPLAY", "wayland-0" } };
        for (const auto &[variable, value] : settings) {
            m_server.useAsSession();
            value.isNull() ? qunsetenv(variable) : qputenv(variable, value);
            QVERIFY2(!X11DisplaySleepWatcher().isWatching(), variable);
        }
        m_server.useAsSession();
    }

    // Last: it takes the server down for good, which ends the watching.
    void reportsTheSaverTurningOnOnlyUntilTheServerGoes()
    {
        X11DisplaySleepWatcher watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy slept(&watcher, &X11DisplaySleepWatcher::displaysSlept);
        for (const char *state : { "reset", "activate", "reset", "activate", "reset" })
            QVERIFY(saver(state));
        // The count must be reached, and not passed in the moments after.
        QTRY_COMPARE(slept.count(), 2);
        QVERIFY(!QTest::qWaitFor([&] { return slept.count() > 2; }, 500));
        xcb_disconnect(std::exchange(m_c, nullptr));
        QVERIFY(m_server.stop());
        QTRY_VERIFY(!watcher.isWatching());
    }
};

QTEST_GUILESS_MAIN(TestX11Desktop)
#include "test_x11_desktop.moc"
