#include "lock/QuickLockScreens.h"

#include "lock/LockLog.h"

#include "lock/LockPad.h"
#include "platform/ViewWindow.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QScreen>

namespace pelk::lock {

using namespace Qt::StringLiterals;

namespace {

class QuickLockSurface : public LockSurface {
public:
    QuickLockSurface(QQuickWindow *window, LockPad *pad) : m_window(window), m_pad(pad) { }
    ~QuickLockSurface() override
    {
        // Later, not now: the window may be in the middle of delivering the event that led here.
        if (m_window) {
            m_window->hide();
            m_window->deleteLater();
        }
        if (m_pad)
            m_pad->deleteLater();
    }

    void setFrame(const QRect &frame) override
    {
        if (!m_window)
            return;
        if (QScreen *screen = QGuiApplication::screenAt(frame.center()))
            m_window->setScreen(screen);
        if (m_window->geometry() != frame)
            m_window->setGeometry(frame);
    }
    void orderFront() override
    {
        if (!m_window)
            return;
        if (!m_window->isVisible())
            m_window->show();
        m_window->raise();
    }
    void makeKeyAndOrderFront() override
    {
        orderFront();
        if (m_window)
            m_window->requestActivate();
    }
    quintptr nativeHandle() const override { return m_window ? m_window->winId() : 0; }
    void setInputHeld(bool held) override
    {
        if (m_pad)
            m_pad->setInputHeld(held);
    }

private:
    QPointer<QQuickWindow> m_window;
    QPointer<LockPad> m_pad;
};

} // namespace

QuickLockScreens::QuickLockScreens(QQmlEngine &engine) : m_engine(engine)
{
}

QList<QRect> QuickLockScreens::screens() const
{
    QList<QRect> frames;
    for (const QScreen *screen : QGuiApplication::screens())
        frames.append(screen->geometry());
    return frames;
}

std::unique_ptr<LockSurface> QuickLockScreens::createWindow(
    const QRect &frame, const QString &message, bool aboveLoginWindow, PinSubmit submit)
{
    auto *pad = new LockPad(message, std::move(submit));
    auto *window = platform::createViewWindow(
        m_engine, "Pelk.Lock", "LockWindow", { { u"pad"_s, QVariant::fromValue(pad) } }, lcLock());
    if (!window) {
        // The controller sees fewer windows than screens and tries again on the next tick.
        delete pad;
        return nullptr;
    }
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint;
    // X11 has no window levels: both the screen-saver level and the one above the login
    // window become an unmanaged window kept on top of the stack by raising it every tick.
    // Above a greeter the window must also never be handed to a window manager.
    if (aboveLoginWindow)
        flags |= Qt::BypassWindowManagerHint;
    window->setFlags(flags);
    if (QScreen *screen = QGuiApplication::screenAt(frame.center()))
        window->setScreen(screen);
    window->setGeometry(frame);
    return std::make_unique<QuickLockSurface>(window, pad);
}

} // namespace pelk::lock
