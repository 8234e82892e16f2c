#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QRect>
#include <QSize>

class QEvent;

namespace pelk::platform {

// The compositor's own session lock. While it holds, the compositor shows nothing but the
// pictures given here, one per output, sends the keyboard and pointer to them alone, and stays
// locked should this process die: only unlock() (or a later lock by the same program) ends it.
class CompositorLock : public QObject {
    Q_OBJECT
public:
    enum class State {
        Unlocked,
        // Asked for; the compositor has not yet covered every output with the lock's pictures.
        Locking,
        Locked,
        // The compositor refused the lock (another program holds one) or ended it.
        Refused,
    };

    using QObject::QObject;
    // The outputs as the compositor reports them (logical geometry), in a stable order.
    virtual QList<QRect> outputs() const = 0;
    // Asks for the lock; nothing while asked for or held. Refused again resets to a new try.
    virtual void lock() = 0;
    // Ends the lock (only a lock the compositor confirmed can be ended).
    virtual void unlock() = 0;
    virtual State state() const = 0;
    // The size the compositor wants output's picture in (empty until it says).
    virtual QSize pictureSize(int output) const = 0;
    // Shows picture on output, scaled to pictureSize() if it is not already that size.
    virtual void present(int output, const QImage &picture) = 0;

Q_SIGNALS:
    void outputsChanged();
    void stateChanged();
    // The compositor wants output's picture at a (new) size.
    void pictureSizeChanged(int output);
    // A key or mouse event on output's picture, in its coordinates. The event lives for the call.
    void input(int output, QEvent *event);
};

} // namespace pelk::platform
