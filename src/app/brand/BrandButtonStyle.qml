import QtQuick
import QtQuick.Templates as T
import Pelk.Brand

// The setup and support windows' button: white on terracotta, or terracotta on a light tint.
T.Button {
    id: control

    property bool prominent: true

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    leftPadding: 20
    rightPadding: 20
    topPadding: 12
    bottomPadding: 12
    font: Brand.font(14, Font.DemiBold)
    opacity: down ? 0.72 : 1.0

    // Space and Enter act once the key is really up again after a fresh press. A key that was
    // down before (pressed before the panel came, or held and repeating when the focus arrived)
    // acts on nothing: X sends a held key's repeats as press and release pairs a few
    // milliseconds apart, which the toolkit does not always mark as repeats.
    property int keyState: 0 // 0 up, 1 freshly pressed, 2 held or down since before
    down: pressed || keyState === 1
    function activates(event) {
        return event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter
    }
    Keys.onPressed: event => {
        if (!activates(event))
            return
        event.accepted = true
        const fresh = keyState === 0 && !event.isAutoRepeat && !keyUp.running
        keyState = fresh ? 1 : 2
        keyUp.stop()
    }
    Keys.onReleased: event => {
        if (!activates(event))
            return
        event.accepted = true
        keyUp.restart()
    }
    onActiveFocusChanged: {
        keyState = 0
        keyUp.stop()
    }
    Timer {
        id: keyUp
        interval: 150 // longer than a repeat's release to its next press
        onTriggered: {
            if (control.keyState === 1 && control.enabled)
                control.clicked()
            control.keyState = 0
        }
    }

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.prominent ? "white" : Brand.terracotta
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        radius: 9
        antialiasing: true
        color: control.prominent ? Brand.terracotta
                                 : Qt.rgba(Brand.terracotta.r, Brand.terracotta.g, Brand.terracotta.b, 0.09)
        // The keyboard focus, shown when it came from the keyboard.
        border.width: control.visualFocus ? 2 : 0
        border.color: control.prominent ? Qt.darker(Brand.terracotta, 1.8) : Brand.terracotta
    }
}
