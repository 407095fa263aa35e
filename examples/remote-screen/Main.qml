import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15
import NorvikRemote.Defines 1.0
import NorvikRemote.Services 1.0

// The remote's screen is 800 x 480. The places of the state text, the identity row
// and the arm button are fixed: the install-tree test reads and clicks them there.
Window {
    id: screen
    x: 0
    y: 0
    width: 800
    height: 480
    visible: true
    color: "#10161c"
    title: "Remote " + libraryVersion

    property int rcState: -1
    property bool stopPressed: false

    function stateText(state) {
        switch (state) {
        case SystemEvent.NO_RI_Link: return "NO LINK"
        case SystemEvent.WAITING: return "WAITING"
        case SystemEvent.SELECTED: return "SELECTED"
        case SystemEvent.ARMING: return "ARMING"
        case SystemEvent.ARMED_ENABLED: return "ARMED"
        case SystemEvent.STOP: return "STOP"
        case SystemEvent.POWERING_DOWN: return "POWER OFF"
        case SystemEvent.EXIT_APPLICATION: return "EXIT"
        }
        return "STARTING"
    }
    function severityColor(severity) {
        return severity === Defines.ALARM ? "#d8433b"
             : severity === Defines.WARNING ? "#e0a526" : "#4a90c8"
    }

    // A tag of the library's database, with its value as text; empty while the tag
    // has no value (a missing tag, or a device that does not answer).
    component TagText: Text {
        property string tagName
        property var tag: norvikLink.tags.get(tagName)
        property string unit
        function show(value) {
            var stateLabel = tag ? tag.getState() : ""
            text = stateLabel !== "" ? stateLabel
                 : (value === undefined || value === null || value === "") ? "\u2014"
                 : value + unit
        }
        color: "white"
        font.pixelSize: 28
        Component.onCompleted: show(tag ? tag.getValue() : undefined)
        Connections {
            target: tag
            function onValueUpdated(value) { show(value) }
        }
    }

    property var stateTag: norvikLink.tags.get("systemEventServiceState")
    Component.onCompleted: {
        const value = stateTag.getValue()
        if (value !== undefined)
            rcState = value
    }
    Connections {
        target: screen.stateTag
        function onValueUpdated(value) { screen.rcState = value }
    }
    Connections {
        target: norvikLink
        function onStopPressed() { screen.stopPressed = true }
        function onStopReleased() { screen.stopPressed = false }
    }

    // The state band.
    Rectangle {
        width: 800
        height: 90
        color: screen.stopPressed ? "#8e1c17"
             : screen.rcState === SystemEvent.ARMED_ENABLED ? "#1d6b35" : "#27323c"
        Text {
            x: 20
            y: 10
            width: 480
            height: 70
            verticalAlignment: Text.AlignVCenter
            text: screen.stopPressed ? "MACHINE STOP" : screen.stateText(screen.rcState)
            color: "white"
            font.pixelSize: 48
            font.bold: true
        }
        Column {
            x: 540
            y: 12
            spacing: 4
            Row {
                spacing: 8
                Text { text: "Base unit"; color: "#b0bec8"; font.pixelSize: 20; width: 110 }
                TagText { tagName: "g_link_status"; font.pixelSize: 20 }
            }
            Row {
                spacing: 8
                Text { text: "WiFi"; color: "#b0bec8"; font.pixelSize: 20; width: 110 }
                TagText { tagName: "g_link_rssi"; unit: " %"; font.pixelSize: 20 }
            }
            Row {
                spacing: 8
                Text { text: "Battery"; color: "#b0bec8"; font.pixelSize: 20; width: 110 }
                TagText { tagName: "ru_battery"; unit: " %"; font.pixelSize: 20 }
            }
        }
    }

    // Live tags.
    Column {
        x: 20
        y: 105
        spacing: 14
        Repeater {
            model: [ { label: "Identity", tag: "ru_identity", unit: "" },
                     { label: "Joystick 1", tag: "joystick_01", unit: "" },
                     { label: "Charge", tag: "ru_charge_state", unit: " %" },
                     { label: "Light", tag: "light_sensor_value", unit: " lx" } ]
            Row {
                height: 40
                Text {
                    width: 200
                    text: modelData.label
                    color: "#b0bec8"
                    font.pixelSize: 24
                    anchors.verticalCenter: parent.verticalCenter
                }
                TagText {
                    width: 260
                    tagName: modelData.tag
                    unit: modelData.unit
                    font.pixelSize: 32
                    font.bold: true
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
        }
    }

    // How the two links fare since start-up.
    Column {
        x: 20
        y: 322
        spacing: 2
        Text {
            color: "#b0bec8"
            font.pixelSize: 16
            text: "Internal link: " + norvikLink.framesSent + " frames out, "
                  + norvikLink.framesReceived + " in"
        }
        Text {
            color: "#b0bec8"
            font.pixelSize: 16
            text: norvikLink.crcFailures + " damaged, " + norvikLink.retransmissions
                  + " repeated, " + norvikLink.linkFailures + " link failures"
        }
        Text {
            color: "#b0bec8"
            font.pixelSize: 16
            text: "Base unit: " + norvikLink.baseUnitReconnects + " reconnects, "
                  + norvikLink.baseUnitDroppedMessages + " messages dropped"
        }
    }

    // The notification history, newest first.
    ListView {
        id: history
        x: 500
        y: 105
        width: 290
        height: 280
        clip: true
        spacing: 6
        property var store: norvikLink.getNotificationStore()
        // The history hands out the same objects again, and an element's acknowledgement
        // has no change signal: an equal list would not reset the view.
        function refresh() {
            model = []
            model = store.getNotificationsQML()
        }
        Component.onCompleted: refresh()
        Connections {
            target: history.store
            function onCountChanged() { history.refresh() }
            function onNewNotification() { history.refresh() }
        }
        delegate: Rectangle {
            width: history.width
            height: 52
            radius: 4
            color: modelData.acked ? "#27323c" : screen.severityColor(modelData.severity)
            Text {
                x: 8
                y: 4
                width: parent.width - 90
                elide: Text.ElideRight
                text: modelData.message
                color: "white"
                font.pixelSize: 18
            }
            Text {
                x: 8
                y: 28
                text: Qt.formatTime(modelData.dateTime, "hh:mm:ss") + (modelData.acked ? "  acknowledged" : "")
                color: "#dde4ea"
                font.pixelSize: 14
            }
            Button {
                x: parent.width - 78
                y: 6
                width: 70
                height: 40
                text: "Ack"
                visible: !modelData.acked
                onClicked: {
                    norvikLink.ackNotificationSlot(modelData.reference)
                    history.refresh()
                }
            }
        }
    }

    // The operator's buttons.
    Button {
        x: 20
        y: 400
        width: 180
        height: 66
        text: "Arm"
        font.pixelSize: 26
        onClicked: norvikLink.arm()
    }
    Button {
        x: 220
        y: 400
        width: 180
        height: 66
        text: "Disarm"
        font.pixelSize: 26
        onClicked: norvikLink.disarm()
    }
    Button {
        x: 580
        y: 400
        width: 200
        height: 66
        visible: deskStopLine.available
        text: screen.stopPressed ? "Release stop" : "Machine stop"
        font.pixelSize: 24
        onClicked: deskStopLine.press(!screen.stopPressed)
    }
}
