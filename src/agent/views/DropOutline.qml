import QtQuick

// A rounded rectangle stroked 1 point wide, dashed 5 on and 4 off.
Canvas {
    id: outline

    property color color: "black"
    property real radius: 12

    onColorChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        ctx.strokeStyle = outline.color
        ctx.lineWidth = 1
        ctx.miterLimit = 10
        ctx.setLineDash([5, 4])
        ctx.lineDashOffset = 0
        ctx.beginPath()
        ctx.roundedRect(0.5, 0.5, width - 1, height - 1, radius, radius)
        ctx.stroke()
    }
}
