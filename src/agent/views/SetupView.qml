import QtQuick
import QtQuick.Window
import QtQuick.Controls.Basic as Basic
import Qt5Compat.GraphicalEffects
import Pelk.Brand

// The setup window's content: connection state, enrollment by drop or file chooser, the
// selected file, import progress and errors, and what the organisation can see. Everything
// shown comes from the model; the only state of its own is the drop highlight.
Item {
    id: view
    objectName: "setupView"

    required property QtObject model
    readonly property QtObject enrollment: model.enrollment
    // True while an acceptable drag hovers over the drop area.
    property bool targeted: false

    readonly property bool dark: Appearance.dark
    readonly property color accent: dark ? Qt.rgba(0.94, 0.54, 0.48, 1) : Brand.terracotta
    readonly property color secondaryText: dark ? Qt.rgba(0.70, 0.74, 0.80, 1) : Qt.rgba(0.40, 0.40, 0.42, 1)
    readonly property color cardText: dark ? Qt.rgba(0.91, 0.93, 0.96, 1) : Qt.rgba(0.14, 0.18, 0.23, 1)
    readonly property color cardBackground: dark ? Qt.rgba(0.11, 0.15, 0.21, 1) : "white"
    readonly property color connectedGreen: Qt.rgba(0.24, 0.65, 0.46, 1)
    readonly property font baseFont: Brand.font(15)

    // The drop area is only out of the way on a connected device with nothing selected.
    readonly property bool dropAreaShown: !(model.connected && !enrollment.hasSelection)
    readonly property string importLabel: enrollment.busy ? qsTr("Connecting\u2026")
        : model.connected ? qsTr("Replace enrollment") : qsTr("Connect to workspace")

    // The countdown ticks every second while the window is on screen; a hidden window costs nothing.
    property string nextCheckin: model.nextCheckin
    Connections {
        target: view.model
        function onStatusChanged() { view.nextCheckin = view.model.nextCheckinLine() }
    }
    Timer {
        interval: 1000
        repeat: true
        running: view.model.connectedDetailsShown && view.Window.visibility !== Window.Hidden
        onTriggered: view.nextCheckin = view.model.nextCheckinLine()
    }

    // Background: the artwork stretched to the window, terracotta when it cannot be read.
    Rectangle {
        anchors.fill: parent
        color: Brand.terracotta
        visible: background.status !== Image.Ready
        Accessible.ignored: true
    }
    Image {
        id: background
        objectName: "background"
        anchors.fill: parent
        source: "qrc:/pelk/images/LoginBackground.png"
        fillMode: Image.Stretch
        // Owned by the window alone: nothing of it stays in the process-wide image cache.
        cache: false
        Accessible.ignored: true
    }
    Rectangle {
        anchors.fill: parent
        color: "black"
        opacity: 0.25
        visible: view.dark
        Accessible.ignored: true
    }

    Flickable {
        id: scroller
        anchors.fill: parent
        contentWidth: width
        contentHeight: stack.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        // Always shown while something is out of view: a cut-off card must say it scrolls.
        Basic.ScrollBar.vertical: Basic.ScrollBar {
            objectName: "scrollBar"
            policy: scroller.contentHeight > scroller.height ? Basic.ScrollBar.AlwaysOn : Basic.ScrollBar.AlwaysOff
        }

        Column {
            id: stack
            width: scroller.width
            topPadding: 30
            bottomPadding: 24
            spacing: 24

            // Header: the icon tile and the name.
            Column {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 12

                Item {
                    id: iconTile
                    objectName: "iconTile"
                    anchors.horizontalCenter: parent.horizontalCenter
                    visible: icon.status === Image.Ready
                    width: 64
                    height: 64
                    Accessible.ignored: true

                    DropShadow {
                        anchors.fill: tile
                        source: tile
                        radius: 14
                        samples: 29
                        horizontalOffset: 0
                        verticalOffset: 5
                        color: Qt.rgba(0, 0, 0, 0.12)
                    }
                    Rectangle {
                        id: tile
                        anchors.fill: parent
                        radius: 17
                        color: "white"
                    }
                    Image {
                        id: icon
                        x: 6
                        y: 6
                        width: 52
                        height: 52
                        source: "qrc:/pelk/images/PelkIcon.png"
                        sourceSize: Qt.size(104, 104)
                        fillMode: Image.PreserveAspectFit
                        cache: false
                        smooth: true
                        mipmap: true
                    }
                }

                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Pelk Agent"
                    font: Brand.font(28, Font.DemiBold)
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    color: "white"
                }
            }

            // The card.
            Item {
                id: cardFrame
                anchors.horizontalCenter: parent.horizontalCenter
                width: Math.min(512, stack.width - 80)
                height: card.implicitHeight

                DropShadow {
                    anchors.fill: cardBackground
                    source: cardBackground
                    radius: 24
                    samples: 49
                    horizontalOffset: 0
                    verticalOffset: 10
                    color: Qt.rgba(0, 0, 0, view.dark ? 0.18 : 0.10)
                }
                Rectangle {
                    id: cardBackground
                    anchors.fill: parent
                    radius: 18
                    color: view.cardBackground
                }

                Column {
                    id: card
                    objectName: "card"
                    width: parent.width
                    padding: 28
                    spacing: 22

                    readonly property real innerWidth: width - leftPadding - rightPadding

                    CardText {
                        objectName: "title"
                        width: card.innerWidth
                        text: view.model.connected ? qsTr("Your device is connected")
                            : view.model.revoked ? qsTr("Device removed from Pelk") : qsTr("Connect your device")
                        font: Brand.font(22, Font.DemiBold)
                    }

                    // Drop area.
                    Rectangle {
                        id: enrollmentArea
                        objectName: "dropArea"
                        Accessible.role: Accessible.Grouping
                        Accessible.name: dropHint.text
                        visible: view.dropAreaShown
                        width: card.innerWidth
                        height: dropColumn.implicitHeight + 48
                        radius: 12
                        color: Qt.rgba(view.accent.r, view.accent.g, view.accent.b, view.targeted ? 0.13 : 0.04)

                        DropOutline {
                            anchors.fill: parent
                            color: Qt.rgba(view.accent.r, view.accent.g, view.accent.b, view.targeted ? 0.9 : 0.35)
                        }

                        Column {
                            id: dropColumn
                            x: 12
                            y: 24
                            width: parent.width - 24
                            spacing: 12

                            SymbolIcon {
                                anchors.horizontalCenter: parent.horizontalCenter
                                name: "square.and.arrow.down"
                                color: view.accent
                                width: 28
                                height: 30
                                Accessible.ignored: true
                            }
                            CardText {
                                objectName: "dropHint"
                                id: dropHint
                                anchors.horizontalCenter: parent.horizontalCenter
                                width: Math.min(implicitWidth, parent.width)
                                text: view.targeted ? qsTr("Release to add your enrollment file") : qsTr("Drop your enrollment JSON here")
                                font: Brand.font(15, Font.DemiBold)
                                horizontalAlignment: Text.AlignHCenter
                            }
                            CardText {
                                anchors.horizontalCenter: parent.horizontalCenter
                                width: Math.min(implicitWidth, parent.width)
                                text: qsTr("From Pelk: MDM \u2192 Device fleet \u2192 enrollment file")
                                font: Brand.font(13)
                                color: view.secondaryText
                                horizontalAlignment: Text.AlignHCenter
                            }
                            Item {
                                anchors.horizontalCenter: parent.horizontalCenter
                                width: chooseButton.implicitWidth
                                height: chooseButton.implicitHeight + 4
                                BrandButtonStyle {
                                    id: chooseButton
                                    objectName: "chooseButton"
                                    y: 4
                                    text: qsTr("Choose enrollment file")
                                    enabled: !view.enrollment.busy
                                    onClicked: Qt.callLater(view.enrollment.choose) // the dialog runs its own loop: not inside this click
                                }
                            }
                        }

                        DropArea {
                            objectName: "dropTarget"
                            anchors.fill: parent
                            keys: ["text/uri-list"]
                            // Files only: the first item is the one taken, and a web link is no file.
                            onEntered: drag => {
                                if (!drag.hasUrls || !String(drag.urls[0]).startsWith("file:")) {
                                    drag.accepted = false
                                    return
                                }
                                view.targeted = true
                            }
                            onExited: view.targeted = false
                            onDropped: drop => {
                                view.targeted = false
                                // Refused while an import runs, or when nothing came; otherwise the
                                // first file only, checked by the model.
                                if (view.enrollment.busy || drop.urls.length === 0) {
                                    drop.accepted = false
                                    return
                                }
                                view.enrollment.load(drop.urls[0])
                                drop.accept(Qt.CopyAction)
                            }
                        }
                    }

                    // The selected file.
                    Column {
                        objectName: "selectedFile"
                        visible: view.enrollment.hasSelection
                        width: card.innerWidth
                        spacing: 10

                        Row {
                            spacing: 7
                            SymbolIcon {
                                anchors.verticalCenter: parent.verticalCenter
                                name: "desktopcomputer"
                                color: view.cardText
                                width: 18
                                height: 18
                                Accessible.ignored: true
                            }
                            CardText {
                                objectName: "selectedDeviceName"
                                width: Math.min(implicitWidth, card.innerWidth - 25)
                                text: view.enrollment.selectedDeviceName
                                font: Brand.font(15, Font.DemiBold)
                            }
                        }
                        SelectableText {
                            objectName: "selectedBaseUrl"
                            width: card.innerWidth
                            text: view.enrollment.selectedBaseUrl
                            font: Brand.font(13)
                            color: view.secondaryText
                        }
                        CardText {
                            width: card.innerWidth
                            text: qsTr("Your IT administrators can lock this computer and delete local accounts and their data. Wiping administrator accounts requires a verified recovery administrator.")
                            font: Brand.font(13)
                            color: view.secondaryText
                        }
                        Item {
                            width: card.innerWidth
                            height: importButton.implicitHeight + 4
                            BrandButtonStyle {
                                objectName: "cancelButton"
                                y: 4
                                prominent: false
                                text: qsTr("Cancel")
                                enabled: !view.enrollment.busy
                                onClicked: view.enrollment.clearSelection()
                            }
                            BrandButtonStyle {
                                id: importButton
                                objectName: "importButton"
                                y: 4
                                anchors.right: parent.right
                                text: view.importLabel
                                enabled: !view.enrollment.busy
                                onClicked: view.enrollment.connect()
                            }
                        }
                    }

                    // The error line.
                    Row {
                        objectName: "errorLine"
                        visible: view.enrollment.hasError
                        width: card.innerWidth
                        spacing: 6
                        SymbolIcon {
                            y: 1
                            name: "exclamationmark.circle"
                            color: view.accent
                            width: 15
                            height: 15
                            Accessible.ignored: true
                        }
                        CardText {
                            objectName: "errorText"
                            // An alert that appears is announced.
                            Accessible.role: Accessible.AlertMessage
                            width: card.innerWidth - 21
                            text: view.enrollment.error
                            font: Brand.font(13)
                            color: view.accent
                        }
                    }

                    Rectangle {
                        width: card.innerWidth
                        height: 1
                        color: Qt.rgba(view.secondaryText.r, view.secondaryText.g, view.secondaryText.b, 0.16)
                    }

                    // The status block.
                    Column {
                        objectName: "statusBlock"
                        width: card.innerWidth
                        spacing: 9

                        Row {
                            spacing: 8
                            height: Math.max(statusTitle.implicitHeight, spinner.visible ? spinner.height : 0)
                            Rectangle {
                                objectName: "statusDot"
                                anchors.verticalCenter: parent.verticalCenter
                                width: 8
                                height: 8
                                radius: 4
                                color: view.model.connected ? view.connectedGreen : view.accent
                            }
                            CardText {
                                id: statusTitle
                                objectName: "statusTitle"
                                anchors.verticalCenter: parent.verticalCenter
                                text: view.model.title
                                font: Brand.font(14, Font.DemiBold)
                            }
                            Basic.BusyIndicator {
                                id: spinner
                                objectName: "spinner"
                                anchors.verticalCenter: parent.verticalCenter
                                visible: view.model.connecting
                                running: visible
                                width: 18
                                height: 18
                                padding: 0
                            }
                        }
                        CardText {
                            objectName: "statusMessage"
                            width: card.innerWidth
                            text: view.model.message
                            font: Brand.font(13)
                            color: view.secondaryText
                        }
                        CardText {
                            objectName: "statusDeviceName"
                            visible: text !== ""
                            width: card.innerWidth
                            text: view.model.deviceName
                            font: Brand.font(14, Font.Medium)
                        }
                        SelectableText {
                            objectName: "statusBaseUrl"
                            visible: text !== ""
                            width: card.innerWidth
                            text: view.model.baseUrl
                            font: Brand.font(12)
                            color: view.secondaryText
                        }
                        CardText {
                            objectName: "lastCheckin"
                            width: card.innerWidth
                            text: qsTr("Last check-in: %1").arg(view.model.lastSeen)
                            font: Brand.font(12)
                            color: view.secondaryText
                        }

                        Column {
                            objectName: "connectedGroup"
                            visible: view.model.connectedDetailsShown
                            width: card.innerWidth
                            spacing: 9

                            CardText {
                                objectName: "nextCheckin"
                                width: card.innerWidth
                                text: view.nextCheckin
                                font: Brand.font(12)
                                color: view.secondaryText
                            }
                            CardText {
                                width: card.innerWidth
                                text: qsTr("Hardware, installed applications, and network counters are reported to your IT administrators.")
                                font: Brand.font(12)
                                color: view.secondaryText
                            }
                            CardText {
                                objectName: "websiteReporting"
                                width: card.innerWidth
                                text: view.model.browserHistoryEnabled
                                    ? qsTr("Website reporting is on: recent site origins and visit times are shared.")
                                    : qsTr("Website reporting is off.")
                                font: Brand.font(12)
                                color: view.secondaryText
                            }
                            CardText {
                                objectName: "locationMessage"
                                width: card.innerWidth
                                text: view.model.locationMessage
                                font: Brand.font(12)
                                color: view.secondaryText
                            }
                            BrandButtonStyle {
                                objectName: "locationButton"
                                visible: !view.model.locationReporting
                                prominent: false
                                text: qsTr("Enable location / settings")
                                onClicked: view.model.location.enableOrOpenSettings()
                            }
                        }

                        Item {
                            visible: view.model.connected && !view.enrollment.hasSelection
                            width: changeButton.implicitWidth
                            height: changeButton.implicitHeight + 6
                            BrandButtonStyle {
                                id: changeButton
                                objectName: "changeButton"
                                y: 6
                                prominent: false
                                text: qsTr("Change enrollment file\u2026")
                                enabled: !view.enrollment.busy
                                onClicked: Qt.callLater(view.enrollment.choose) // the dialog runs its own loop: not inside this click
                            }
                        }
                    }
                }
            }

            // Footer.
            Text {
                objectName: "footer"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Pelk Agent \u00b7 v" + view.model.footerVersion
                font: Brand.font(12)
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                color: Qt.rgba(1, 1, 1, 0.9)
                opacity: 0.76
            }
        }
    }

    // Texts inside the card: the card's colour and the view's default font, wrapped.
    component CardText: Text {
        color: view.cardText
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        font: view.baseFont
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
    }
    component SelectableText: TextEdit {
        readOnly: true
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        selectByMouse: true
        wrapMode: TextEdit.Wrap
        textFormat: TextEdit.PlainText
        selectionColor: Qt.rgba(view.accent.r, view.accent.g, view.accent.b, 0.3)
        selectedTextColor: color
    }
}
