import QtQuick
import QtQuick.Layouts
import Pelk.Brand

// The consent face (who asks, for what, Decline or Allow) and, once the agent confirmed the
// session, the sharing face (Stop sharing only). Every text comes from the model.
Rectangle {
    id: view
    objectName: "supportView"

    // Read through "?." because a hidden panel may outlive its model by one event-loop turn.
    required property QtObject model
    readonly property color secondary: Qt.rgba(0.24, 0.24, 0.26, 0.6)

    color: "white"
    implicitWidth: 440
    implicitHeight: block.implicitHeight + 48

    ColumnLayout {
        id: block
        anchors.centerIn: parent
        width: 392
        spacing: 18

        RowLayout {
            spacing: 8
            SymbolIcon {
                objectName: "symbol"
                Layout.alignment: Qt.AlignVCenter
                Layout.preferredWidth: 34
                Layout.preferredHeight: 34
                name: view.model?.symbol ?? "display"
                color: Brand.terracotta
            }
            ColumnLayout {
                Layout.alignment: Qt.AlignVCenter
                spacing: 4
                Text {
                    objectName: "title"
                    text: view.model?.title ?? ""
                    font: Brand.font(22, Font.DemiBold)
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
                Text {
                    text: qsTr("Pelk Support")
                    font: Brand.font(14)
                    color: view.secondary
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
        }

        Text {
            objectName: "sentence"
            Layout.fillWidth: true
            text: view.model?.sentence ?? ""
            font: Brand.font(14)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            wrapMode: Text.Wrap
        }

        Text {
            Layout.fillWidth: true
            text: qsTr("Close private documents before allowing access. You can stop at any time. The session lasts up to 20 minutes and ends if either person disconnects.")
            font: Brand.font(12)
            color: view.secondary
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            wrapMode: Text.Wrap
        }

        Text {
            objectName: "error"
            Layout.fillWidth: true
            visible: (view.model?.error ?? "") !== ""
            text: view.model?.error ?? ""
            font: Brand.font(12)
            color: "red"
            // An alert that appears is announced.
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
            wrapMode: Text.Wrap
        }

        RowLayout {
            Layout.fillWidth: true
            BrandButtonStyle {
                objectName: "stopButton"
                text: view.model?.stopLabel ?? ""
                prominent: (view.model?.active ?? false)
                Accessible.name: text
                onClicked: view.model.stop()
            }
            Item {
                Layout.fillWidth: true
            }
            BrandButtonStyle {
                objectName: "allowButton"
                visible: !(view.model?.active ?? false)
                enabled: !(view.model?.busy ?? false)
                text: view.model?.allowLabel ?? ""
                prominent: true
                Accessible.name: text
                onClicked: view.model.allow()
            }
        }
    }
}
