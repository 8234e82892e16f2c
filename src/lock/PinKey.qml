import QtQuick
import Pelk.Brand

// One round key of the PIN pad: a digit, "del" or "go".
Item {
    id: key

    signal clicked()

    required property string key
    property bool command: key === "del" || key === "go"

    implicitWidth: 64
    implicitHeight: 64
    Accessible.role: Accessible.Button
    Accessible.onPressAction: if (enabled) key.clicked()
    Accessible.name: key.key === "del" ? "Delete" : key.key === "go" ? "Unlock" : key.key

    Rectangle {
        anchors.fill: parent
        radius: 32
        antialiasing: true
        color: key.key === "go" ? Brand.terracotta
             : key.key === "del" ? Qt.rgba(1, 1, 1, 0) : Qt.rgba(1, 1, 1, 0.1)
    }

    Item {
        anchors.fill: parent
        Text {
            anchors.centerIn: parent
            visible: !key.command
            text: key.key
            color: "white"
            font: Brand.font(26, Font.Medium)
        }
        Image {
            anchors.centerIn: parent
            visible: key.command
            // Symbols are drawn a little larger than the text size they stand in for.
            readonly property int side: key.key === "go" ? 22 : 24
            width: side
            height: side
            sourceSize: Qt.size(side * 2, side * 2)
            source: key.command ? "image://pelkicon/" + (key.key === "go" ? "arrow.right" : "delete.left") + "/ffffff" : ""
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
                key.clicked()
        }
    }
}
