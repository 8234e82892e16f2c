#include "support/KeyTable.h"

#define XK_MISCELLANY
#define XK_LATIN1
#include <X11/keysymdef.h>

namespace pelk::support {

using namespace Qt::StringLiterals;

const QHash<QString, quint32> &keys()
{
    static const QHash<QString, quint32> table = [] {
        QHash<QString, quint32> t;
        for (char c = 'A'; c <= 'Z'; ++c)
            t.insert(u"Key"_s + QChar::fromLatin1(c), XK_a + quint32(c - 'A'));
        for (char c = '0'; c <= '9'; ++c)
            t.insert(u"Digit"_s + QChar::fromLatin1(c), XK_0 + quint32(c - '0'));
        for (int f = 1; f <= 12; ++f)
            t.insert(u"F"_s + QString::number(f), XK_F1 + quint32(f - 1));
        const std::pair<const char16_t *, quint32> named[] = {
            { u"Equal", XK_equal },
            { u"Minus", XK_minus },
            { u"BracketRight", XK_bracketright },
            { u"BracketLeft", XK_bracketleft },
            { u"Enter", XK_Return },
            { u"Quote", XK_apostrophe },
            { u"Semicolon", XK_semicolon },
            { u"Backslash", XK_backslash },
            { u"Comma", XK_comma },
            { u"Slash", XK_slash },
            { u"Period", XK_period },
            { u"Tab", XK_Tab },
            { u"Space", XK_space },
            { u"Backquote", XK_grave },
            { u"Backspace", XK_BackSpace }, // deletes backwards
            { u"Escape", XK_Escape },
            { u"Home", XK_Home },
            { u"PageUp", XK_Prior },
            { u"Delete", XK_Delete }, // deletes forwards
            { u"End", XK_End },
            { u"PageDown", XK_Next },
            { u"ArrowLeft", XK_Left },
            { u"ArrowRight", XK_Right },
            { u"ArrowDown", XK_Down },
            { u"ArrowUp", XK_Up },
        };
        for (const auto &[name, keysym] : named)
            t.insert(QString::fromUtf16(name), keysym);
        return t;
    }();
    return table;
}

} // namespace pelk::support
