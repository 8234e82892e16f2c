import QtQuick
import Pelk.Brand

// One round key of the PIN pad: a digit, "del" or "go".
Item {
    id: pinKey

    signal clicked()

    required property string key
    readonly property bool command: key === "del" || key === "go"

    implicitWidth: 64
    implicitHeight: 64
    // A Tab stop: Space or Enter press it on release. Repeats of a key already held when the
    // focus came are no press.
    activeFocusOnTab: true
    property bool keyDown: false
    function activates(event) {
        return event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter
    }
    Keys.onPressed: event => {
        if (!activates(event))
            return
        event.accepted = true
        if (!event.isAutoRepeat)
            keyDown = true
    }
    Keys.onReleased: event => {
        if (!activates(event) || event.isAutoRepeat)
            return
        event.accepted = true
        if (keyDown && enabled)
            pinKey.clicked()
        keyDown = false
    }
    onActiveFocusChanged: keyDown = false

    Accessible.role: Accessible.Button
    Accessible.onPressAction: if (enabled) pinKey.clicked()
    Accessible.name: pinKey.key === "del" ? qsTr("Delete") : pinKey.key === "go" ? qsTr("Unlock") : pinKey.key

    Rectangle {
        anchors.fill: parent
        radius: 32
        antialiasing: true
        color: pinKey.key === "go" ? Brand.terracotta
             : pinKey.key === "del" ? Qt.rgba(1, 1, 1, 0) : Qt.rgba(1, 1, 1, 0.1)
        // The keyboard focus.
        border.width: pinKey.activeFocus ? 2 : 0
        border.color: "white"
    }

    Item {
        anchors.fill: parent
        Text {
            anchors.centerIn: parent
            visible: !pinKey.command
            text: pinKey.key
            color: "white"
            font: Brand.font(26, Font.Medium)
        }
        SymbolIcon {
            anchors.centerIn: parent
            visible: pinKey.command
            // Symbols are drawn a little larger than the text size they stand in for.
            readonly property int side: pinKey.key === "go" ? 22 : 24
            width: side
            height: side
            name: pinKey.key === "go" ? "arrow.right" : pinKey.key === "del" ? "delete.left" : ""
            color: "white"
        }
    }

    MouseArea {
        anchors.fill: parent
        // The hit area is the circle, not its square.
        function inside(x, y) {
            const dx = x - width / 2, dy = y - height / 2
            return dx * dx + dy * dy <= (width / 2) * (width / 2)
        }
        onPressed: mouse => mouse.accepted = inside(mouse.x, mouse.y)
        onClicked: mouse => {
            if (inside(mouse.x, mouse.y))
                pinKey.clicked()
        }
    }
}
