import QtQuick
import QtQuick.Window

// The floating consent and sharing panel. Closing it is the user's Decline or Stop sharing:
// the controller hides and drops it, so the close itself is refused here.
Window {
    id: window

    required property QtObject model
    required property QtObject bridge

    title: qsTr("Pelk \u00b7 Remote support")
    width: 488
    height: 330
    minimumWidth: 488
    maximumWidth: 488
    minimumHeight: 330
    maximumHeight: 330
    color: "white"
    flags: Qt.Window | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
           | Qt.WindowStaysOnTopHint

    onClosing: close => {
        close.accepted = false
        window.bridge.trigger()
    }

    SupportView {
        anchors.fill: parent
        model: window.model
    }
}
