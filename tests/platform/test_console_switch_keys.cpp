// While the X11 lockdown holds, no key of a private Xvfb's keyboard switches to a text console
// (its map's SwitchScreen actions, Ctrl+Alt+F1…F12, are gone); the lockdown's restore, or its
// end with the application, puts back exactly the keymap from before.

#include "fakes/PrivateXvfb.h"
#include "platform/linux/X11DesktopLockdown.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>

using namespace Qt::StringLiterals;

class TestConsoleSwitchKeys : public QObject {
    Q_OBJECT
    pelk::fakes::PrivateXvfb m_server;
    xcb_connection_t *m_c = nullptr;
    int m_switches = 0;

    // The whole keymap as xkbcomp writes it.
    QByteArray keymap() const
    {
        QProcess xkbcomp;
        xkbcomp.start(u"xkbcomp"_s, { u"-xkb"_s, QString::fromLatin1(m_server.display()), u"-"_s });
        return xkbcomp.waitForFinished() && xkbcomp.exitCode() == 0 ? xkbcomp.readAllStandardOutput() : QByteArray();
    }

    // How many key actions switch screens (consoles), read through xcb's own decoding.
    int consoleSwitches() const
    {
        const xcb_setup_t *setup = xcb_get_setup(m_c);
        xcb_xkb_get_map_reply_t *map = xcb_xkb_get_map_reply(m_c,
            xcb_xkb_get_map(m_c, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_MAP_PART_KEY_ACTIONS, 0, 0, 0, 0,
                setup->min_keycode, uint8_t(setup->max_keycode - setup->min_keycode + 1), 0, 0, 0, 0, 0, 0, 0, 0, 0),
            nullptr);
        if (!map)
            return -1;
        xcb_xkb_get_map_map_t parts {};
        xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(map), map->nTypes, map->nKeySyms, map->nKeyActions,
            map->totalActions, map->totalKeyBehaviors, map->virtualMods, map->totalKeyExplicit, map->totalModMapKeys,
            map->totalVModMapKeys, map->present, &parts);
        int count = 0;
        for (int i = 0; i < map->totalActions; ++i)
            count += parts.acts_rtrn_acts[i].type == XCB_XKB_SA_TYPE_SWITCH_SCREEN;
        std::free(map);
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::PrivateXvfb::available() || QStandardPaths::findExecutable(u"xkbcomp"_s).isEmpty())
            QSKIP("Xvfb and xkbcomp are needed (scripts/install-deps.sh)");
        QVERIFY(m_server.start(u"640x480x24"_s));
        m_c = xcb_connect(m_server.display().constData(), nullptr);
        std::free(xcb_xkb_use_extension_reply(m_c, xcb_xkb_use_extension(m_c, 1, 0), nullptr));
        m_switches = consoleSwitches();
        QVERIFY(m_switches >= 12); // Ctrl+Alt+F1…F12 at least
    }
    void cleanupTestCase() { xcb_disconnect(m_c); }

    void consoleKeysAreGoneWhileLocked()
    {
        const QByteArray before = keymap();
        QVERIFY(!before.isEmpty());
        for (const bool restored : { true, false }) { // by restore, then by the end of the lockdown
            {
                pelk::platform::X11DesktopLockdown lockdown(m_c);
                lockdown.saveState();
                lockdown.saveState(); // a second lock record while locked takes nothing more
                QVERIFY(lockdown.force(0));
                QCOMPARE(consoleSwitches(), 0);
                if (restored)
                    lockdown.restore();
            }
            QCOMPARE(consoleSwitches(), m_switches);
            QCOMPARE(keymap(), before);
        }
    }
};

QTEST_GUILESS_MAIN(TestConsoleSwitchKeys)
#include "test_console_switch_keys.moc"
