#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>

namespace pelk::platform {

// The display a support session shares, as found when the user consented.
struct MainDisplay {
    quint32 id = 0;
    QRect bounds;
};

// Still pictures of the main display for remote support. Completions always run later, on
// the calling (main) thread, exactly once.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;
    // Whether this is a desktop session whose screen can be shared at all (an X11 session).
    virtual bool isShareableSession() = 0;
    // Whether pictures can be taken now (the display server offers what capturing needs).
    virtual bool capturePermitted() = 0;
    // The main display's bounds now, in global coordinates; nothing when there is no display.
    virtual std::optional<QRect> mainDisplayBounds() = 0;
    // Looks the main display up; nothing when it cannot be found.
    virtual void findMainDisplay(std::function<void(std::optional<MainDisplay>)> done) = 0;
    // One picture of the display scaled to size, pointer drawn in, as JPEG of the given
    // quality (0-100); nothing when capturing or encoding failed.
    virtual void captureJpeg(
        const MainDisplay &display, QSize size, int quality, std::function<void(std::optional<QByteArray> jpeg)> done)
        = 0;
};

} // namespace pelk::platform
