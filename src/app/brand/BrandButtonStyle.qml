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
    }
}
