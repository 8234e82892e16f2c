import QtQuick
import QtQuick.Window

// The main window: the setup view under a title that the desktop shows as it likes. Closing
// only hides it; the application keeps it for the rest of the process.
Window {
    id: window

    required property QtObject model

    width: 680
    height: 760
    minimumWidth: 580
    minimumHeight: 620
    color: Qt.rgba(0.72, 0.32, 0.23, 1)
    title: "Pelk Agent"

    SetupView {
        anchors.fill: parent
        model: window.model
    }
}
