import QtQuick
import QtQuick.Window

// One borderless lock window per screen. Only the controller closes it (by destroying it):
// a close request from the window manager, Escape and the like are swallowed.
Window {
    id: window

    required property QtObject pad

    flags: Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint | Qt.X11BypassWindowManagerHint
    color: Qt.rgba(0.07, 0.09, 0.13, 1)
    title: "Pelk Agent"

    onClosing: close => close.accepted = false

    LockView {
        anchors.fill: parent
        pad: window.pad
    }
}
