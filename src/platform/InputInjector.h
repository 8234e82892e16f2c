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
    // A key by its place on the keyboard: the Linux key code there (linux/input-event-codes.h),
    // the same whatever the layout, and what it types on a US layout for a display that numbers
    // its keys some other way.
    struct Key {
        quint16 code = 0;
        quint32 usKeysym = 0;
    };

    virtual ~InputInjector() = default;
    // Whether input may be posted at all.
    virtual bool controlPermitted() = 0;
    // A pointer event at a point in global coordinates; clickState 2 is the second click of
    // a double click. False when the event could not be posted.
    virtual bool postMouse(MouseEvent kind, QPointF at, int clickState, Button button) = 0;
    // One scroll of a number of lines; positive scrolls up (away from the user).
    virtual bool postScroll(qint32 lines) = 0;
    // A key going down or up, with the modifiers held around it (pressed by place as well).
    virtual bool postKey(Key key, Modifiers modifiers, bool down) = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(InputInjector::Modifiers)

} // namespace pelk::platform
