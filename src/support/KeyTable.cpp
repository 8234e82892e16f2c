#include "support/KeyTable.h"

#include <linux/input-event-codes.h>

#define XK_MISCELLANY
#define XK_LATIN1
#include <X11/keysymdef.h>

namespace pelk::support {

using namespace Qt::StringLiterals;

const QHash<QString, platform::InputInjector::Key> &keys()
{
    static const QHash<QString, platform::InputInjector::Key> table = [] {
        QHash<QString, platform::InputInjector::Key> t;
        // The letters in alphabetical order, by where they sit on the keyboard.
        const quint16 letters[] = { KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L,
            KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z };
        for (int i = 0; i < 26; ++i)
            t.insert(u"Key"_s + QChar::fromLatin1(char('A' + i)), { letters[i], quint32(XK_a + i) });
        // KEY_1 … KEY_9 are consecutive, KEY_0 follows them.
        for (int d = 0; d <= 9; ++d)
            t.insert(u"Digit"_s + QString::number(d), { quint16(d == 0 ? KEY_0 : KEY_1 + d - 1), quint32(XK_0 + d) });
        for (int f = 1; f <= 12; ++f)
            t.insert(u"F"_s + QString::number(f),
                { quint16(f <= 10 ? KEY_F1 + f - 1 : KEY_F11 + f - 11), quint32(XK_F1 + f - 1) });
        const std::tuple<const char16_t *, quint16, quint32> named[] = {
            { u"Equal", KEY_EQUAL, XK_equal },
            { u"Minus", KEY_MINUS, XK_minus },
            { u"BracketRight", KEY_RIGHTBRACE, XK_bracketright },
            { u"BracketLeft", KEY_LEFTBRACE, XK_bracketleft },
            { u"Enter", KEY_ENTER, XK_Return },
            { u"Quote", KEY_APOSTROPHE, XK_apostrophe },
            { u"Semicolon", KEY_SEMICOLON, XK_semicolon },
            { u"Backslash", KEY_BACKSLASH, XK_backslash },
            { u"Comma", KEY_COMMA, XK_comma },
            { u"Slash", KEY_SLASH, XK_slash },
            { u"Period", KEY_DOT, XK_period },
            { u"Tab", KEY_TAB, XK_Tab },
            { u"Space", KEY_SPACE, XK_space },
            { u"Backquote", KEY_GRAVE, XK_grave },
            { u"Backspace", KEY_BACKSPACE, XK_BackSpace }, // deletes backwards
            { u"Escape", KEY_ESC, XK_Escape },
            { u"Home", KEY_HOME, XK_Home },
            { u"PageUp", KEY_PAGEUP, XK_Prior },
            { u"Delete", KEY_DELETE, XK_Delete }, // deletes forwards
            { u"End", KEY_END, XK_End },
            { u"PageDown", KEY_PAGEDOWN, XK_Next },
            { u"ArrowLeft", KEY_LEFT, XK_Left },
            { u"ArrowRight", KEY_RIGHT, XK_Right },
            { u"ArrowDown", KEY_DOWN, XK_Down },
            { u"ArrowUp", KEY_UP, XK_Up },
        };
        for (const auto &[name, code, keysym] : named)
            t.insert(QString::fromUtf16(name), { code, keysym });
        return t;
    }();
    return table;
}

} // namespace pelk::support
