import QtQuick
import Pelk.Brand

// The lock screen: icon, title, the administrator's message, PIN dots, keypad and status.
// Its only way out is pad.submit(); it never closes its window.
Rectangle {
    id: view
    objectName: "lockView"

    required property QtObject pad
    property string pin: ""
    property bool failed: false
    readonly property int digits: pad.length(pin)

    color: Qt.rgba(0.07, 0.09, 0.13, 1)

    function focusField() {
        field.forceActiveFocus()
    }
    // The field filters what it is given: the pad's limit, and a surrogate left alone by
    // "del" goes with its character.
    function setPin(text) {
        field.text = text
    }
    function press(k) {
        focusField()
        if (k === "del")
            setPin(pin.slice(0, -1))
        else if (k === "go")
            pad.submit(pin)
        else
            setPin(pin + k)
    }

    Connections {
        target: view.pad
        function onInputHeldChanged() {
            view.focusField()
        }
        function onAnswered(accepted) {
            view.setPin("")
            view.failed = !accepted
            view.focusField()
            if (!accepted) {
                shakeAnimation.restart()
                shakeReset.restart()
            }
        }
    }

    Keys.onEscapePressed: event => event.accepted = true
    // Keys a focused pad key leaves alone (digits, Backspace) go to the field, as typed there.
    Keys.forwardTo: [field]
    Component.onCompleted: focusField()

    MouseArea {
        anchors.fill: parent
        onClicked: view.focusField()
    }

    Column {
        id: stack
        objectName: "stack"
        anchors.centerIn: parent
        width: Math.min(680, view.width)
        padding: 40
        spacing: 22
        // A screen too short for it (a small virtual machine's) gets all of it, smaller.
        scale: Math.min(1, view.height / implicitHeight)

        readonly property real innerWidth: width - leftPadding - rightPadding

        SymbolIcon {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 56
            height: 56
            name: "lock.shield.fill"
            color: Brand.terracotta
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, stack.innerWidth)
            text: qsTr("This device is managed and locked")
            color: "white"
            font: Brand.font(30, Font.DemiBold)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            width: stack.innerWidth
            text: view.pad.message !== "" ? view.pad.message : qsTr("Contact your IT administrator for an unlock PIN.")
            textFormat: Text.PlainText
            color: "white"
            opacity: 0.8
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Enter unlock PIN")
            visible: view.pad.inputHeld
            color: "white"
            opacity: 0.7
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            font: Brand.font(13, Font.Medium)
        }

        Item {
            id: dotsArea
            visible: view.pad.inputHeld
            anchors.horizontalCenter: parent.horizontalCenter
            width: dots.width
            height: dots.height
            // Said by the field, which holds the focus.
            Accessible.ignored: true

            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Unlock PIN, %n digits entered", "", view.digits)

            // The row's whole rectangle takes a click to bring the keyboard back.
            MouseArea {
                anchors.fill: parent
                onClicked: view.focusField()
            }

        Row {
            id: dots
            objectName: "dotRow"
            spacing: 14
            topPadding: 6
            bottomPadding: 6
            transform: Translate { id: shift; x: 0 }

            Repeater {
                objectName: "dots"
                model: Math.max(6, view.digits)
                Rectangle {
                    required property int index
                    width: 14
                    height: 14
                    radius: 7
                    antialiasing: true
                    color: index < view.digits ? "white" : "transparent"
                    border.width: 1.5
                    border.color: Qt.rgba(1, 1, 1, view.failed ? 0.9 : 0.55)
                    Accessible.ignored: true
                }
            }

            SequentialAnimation {
                id: shakeAnimation
                // Three runs of a quarter of the default 0.35 s, reversing each time.
                NumberAnimation { target: shift; property: "x"; to: -8; duration: 88; easing.type: Easing.InOutQuad }
                NumberAnimation { target: shift; property: "x"; to: 0; duration: 88; easing.type: Easing.InOutQuad }
                NumberAnimation { target: shift; property: "x"; to: -8; duration: 88; easing.type: Easing.InOutQuad }
            }
        }
        }

        TextInput {
            id: field
            objectName: "pinField"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 1
            height: 1
            opacity: 0.01
            enabled: view.pad.inputHeld && !view.pad.busy
            color: "transparent"
            selectionColor: "transparent"
            selectedTextColor: "transparent"
            cursorVisible: false
            // Tab leaves it for the pad's keys. Named with the dot count; never EditableText,
            // whose text (the PIN itself) assistive tools could read.
            activeFocusOnTab: true
            Accessible.role: Accessible.StaticText
            Accessible.name: dotsArea.Accessible.name

            onTextChanged: {
                const filtered = view.pad.filter(text)
                if (filtered !== text)
                    text = filtered
                if (view.pin !== filtered)
                    view.pin = filtered
                if (filtered !== "")
                    view.failed = false
            }
            // No cursor and no editing: numbers go to the end, Backspace (with any modifier)
            // takes the last one, Return sends; every other key (Home, arrows, Ctrl+A, undo,
            // paste, Escape) does nothing, so the dots always show what will be sent.
            Keys.onPressed: event => {
                if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab)
                    return
                event.accepted = true
                if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter)
                    view.pad.submit(view.pin)
                else if (event.key === Qt.Key_Backspace)
                    view.setPin(view.pin.slice(0, -1))
                else if (event.text !== "" && !(event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier)))
                    view.setPin(view.pin + event.text)
            }
            // Text an input method commits is filtered like typed text; the cursor stays at the end.
            onCursorPositionChanged: cursorPosition = text.length
        }

        Column {
            visible: view.pad.inputHeld
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 12
            Repeater {
                model: [["1", "2", "3"], ["4", "5", "6"], ["7", "8", "9"], ["del", "0", "go"]]
                Row {
                    required property var modelData
                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: 18
                    Repeater {
                        model: parent.modelData
                        PinKey {
                            required property string modelData
                            objectName: "key-" + modelData
                            key: modelData
                            enabled: !view.pad.busy && (modelData !== "go" || view.pad.complete(view.pin))
                            opacity: modelData === "go" && !view.pad.complete(view.pin) ? 0.4 : 1
                            onClicked: view.press(modelData)
                        }
                    }
                }
            }
        }

        Text {
            id: status
            objectName: "status"
            anchors.horizontalCenter: parent.horizontalCenter
            // Within the column, wrapped: some languages take more room than the English.
            width: Math.min(implicitWidth, stack.innerWidth)
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font: Brand.font(13)
            text: !view.pad.inputHeld ? qsTr("Waiting for another program to let go of the keyboard\u2026")
                : view.pad.busy ? qsTr("Checking\u2026")
                : view.failed ? qsTr("PIN not accepted. Wait a moment and try again, or contact IT.") : " "
            color: view.pad.busy ? Qt.rgba(1, 1, 1, 0.7) : view.failed ? "#ff9500" : "white"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: refusal.visible || text.trim() === ""

            // A refusal is an alert that appears, which screen readers announce.
            Item {
                id: refusal
                anchors.fill: parent
                visible: view.failed && view.pad.inputHeld && !view.pad.busy
                Accessible.role: Accessible.AlertMessage
                Accessible.name: status.text
            }
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, stack.innerWidth)
            text: qsTr("Pelk Agent \u00b7 Your administrator can also unlock this device remotely.")
            font: Brand.font(12)
            color: "#8e8e93"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
    }

    Timer {
        id: shakeReset
        interval: 350
        onTriggered: {
            shakeAnimation.stop()
            shift.x = 0
        }
    }
}
