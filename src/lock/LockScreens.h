#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>

namespace pelk::lock {

// Sends a typed PIN; the completion receives whether the agent accepted it.
using PinSubmit = std::function<void(const QString &pin, std::function<void(bool accepted)> done)>;

// One lock window covering one screen. Destroying it closes the window.
class LockSurface {
public:
    virtual ~LockSurface() = default;
    virtual void setFrame(const QRect &frame) = 0;
    // Raise above every other window without taking the focus.
    virtual void orderFront() = 0;
    // Raise and take the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
    // The native window id the desktop lockdown grabs input for (0 when there is none).
    virtual quintptr nativeHandle() const = 0;
    // The PIN pad shows only while the lock holds the input: until then a PIN typed would go
    // to whichever program holds it.
    virtual void setInputHeld(bool held) { Q_UNUSED(held); }
};

// The screens of the display and the lock windows on them.
class LockScreens {
public:
    virtual ~LockScreens() = default;
    // A fresh reading of the screen geometries, in the platform's order.
    virtual QList<QRect> screens() const = 0;
    virtual std::unique_ptr<LockSurface> createWindow(
        const QRect &frame, const QString &message, bool aboveLoginWindow, PinSubmit submit)
        = 0;
};

} // namespace pelk::lock
