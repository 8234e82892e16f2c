#pragma once

#include <QStringList>

using GSettings = struct _GSettings;

namespace pelk::platform {

// Whether, by these settings of Mutter's, an X keyboard grab of a window of this class (WM_CLASS:
// instance and class name) becomes the compositor's own and stays so: grabs allowed, the window
// admitted by xwayland-grab-access-rules ("*" and "?" match, a "!" entry denies and wins), and no
// restore-shortcuts key (Super+Escape by default), which would end the grab with no word to the
// X client.
bool mutterKeepsGrab(bool allowGrabs, const QStringList &accessRules, const QStringList &restoreShortcuts,
    const QStringList &windowClass);

// Mutter's settings as Mutter reads them (its schemas, the vendor overrides, the user's values),
// followed live through GLib's main loop, which Qt's event loop runs.
class MutterGrabSettings {
public:
    MutterGrabSettings();
    ~MutterGrabSettings();
    MutterGrabSettings(const MutterGrabSettings &) = delete;
    MutterGrabSettings &operator=(const MutterGrabSettings &) = delete;

    // False where Mutter's schemas are not installed.
    bool keepsGrab(const QStringList &windowClass) const;

private:
    GSettings *m_wayland = nullptr;
    GSettings *m_keybindings = nullptr;
};

} // namespace pelk::platform
