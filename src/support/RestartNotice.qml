import QtQuick
import QtQuick.Layouts
import QtQuick.Window
import Pelk.Brand

// A restart notice: never modal, so the lock's windows keep their input while it is open; on top,
// and activated when shown (a focused full-screen window stacks above any other).
Window {
    id: notice

    required property string message
    required property string informative
    required property string button
    required property QtObject bridge

    title: "Pelk Agent"
    width: 420
    height: Math.max(180, content.implicitHeight + 48)
    minimumWidth: 420
    maximumWidth: 420
    color: "white"
    modality: Qt.NonModal
    flags: Qt.Dialog | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
           | Qt.WindowStaysOnTopHint

    onClosing: notice.bridge.trigger()

    ColumnLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 24
        spacing: 12
        Text {
            objectName: "message"
            Layout.fillWidth: true
            text: notice.message
            font: Brand.font(16, Font.DemiBold)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            wrapMode: Text.Wrap
        }
        Text {
            objectName: "informative"
            Layout.fillWidth: true
            text: notice.informative
            font: Brand.font(13)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            wrapMode: Text.Wrap
        }
        Item {
            Layout.fillHeight: true
        }
        BrandButtonStyle {
            objectName: "gotIt"
            Layout.alignment: Qt.AlignRight
            text: notice.button
            Accessible.name: text
            onClicked: notice.bridge.trigger()
        }
    }
}
