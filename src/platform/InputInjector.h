#pragma once

#include <QFlags>
#include <QPointF>

namespace pelk::platform {

// Synthetic pointer and keyboard input for a technician's events, posted as if they came
// from the hardware.
class InputInjector {
public:
    enum class MouseEvent { LeftDown, LeftUp, RightDown, RightUp, Moved, LeftDragged };
    enum class Button { Left, Right };
    enum class Modifier { Shift = 0x1, Control = 0x2, Alt = 0x4, Super = 0x8 };
    Q_DECLARE_FLAGS(Modifiers, Modifier)

    virtual ~InputInjector() = default;
    // Whether input may be posted at all.
    virtual bool controlPermitted() = 0;
    // A pointer event at a point in global coordinates; clickState 2 is the second click of
    // a double click. False when the event could not be posted.
    virtual bool postMouse(MouseEvent kind, QPointF at, int clickState, Button button) = 0;
    // One scroll of a number of lines; positive scrolls up (away from the user).
    virtual bool postScroll(qint32 lines) = 0;
    // A key (an X keysym) going down or up, with the modifiers held around it.
    virtual bool postKey(quint32 keysym, Modifiers modifiers, bool down) = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(InputInjector::Modifiers)

} // namespace pelk::platform
