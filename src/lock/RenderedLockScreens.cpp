#include "lock/RenderedLockScreens.h"

#include "lock/LockLog.h"
#include "lock/LockPad.h"
#include "platform/CompositorLock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace pelk::lock {

using namespace Qt::StringLiterals;

namespace {
// Pictures are taken at most this often (the PIN pad's shake is its only animation); a change
// after a quiet moment is drawn at once.
constexpr qint64 kFrameIntervalMs = 16;
} // namespace

class RenderedLockSurface : public QObject, public LockSurface {
public:
    RenderedLockSurface(RenderedLockScreens &screens, int output, LockPad *pad, QQuickItem *view,
        std::unique_ptr<QQuickRenderControl> control, std::unique_ptr<QQuickWindow> window)
        : m_screens(screens), m_output(output), m_pad(pad), m_view(view), m_control(std::move(control)),
          m_window(std::move(window))
    {
        m_frame.setSingleShot(true);
        connect(&m_frame, &QTimer::timeout, this, &RenderedLockSurface::render);
        connect(m_control.get(), &QQuickRenderControl::renderRequested, this, &RenderedLockSurface::scheduleFrame);
        connect(m_control.get(), &QQuickRenderControl::sceneChanged, this, &RenderedLockSurface::scheduleFrame);
        platform::CompositorLock &lock = m_screens.m_lock;
        connect(&lock, &platform::CompositorLock::pictureSizeChanged, this, [this](int resized) {
            if (resized == m_output)
                scheduleFrame();
        });
        connect(&lock, &platform::CompositorLock::input, this, [this](int on, QEvent *event) {
            if (on == m_output && m_screens.shownOn(m_output) == this)
                deliver(event);
        });
        // The window never becomes the application's focus window: the view gets the keyboard
        // focus the compositor gave the output.
        QFocusEvent focusIn(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(m_window.get(), &focusIn);
    }
    ~RenderedLockSurface() override
    {
        m_screens.forget(this);
        // Later, not now: the window may be in the middle of delivering the event that led here.
        m_control.release()->deleteLater();
        m_window.release()->deleteLater();
        if (m_pad)
            m_pad->deleteLater();
    }

    int output() const { return m_output; }
    // Shown (again) on its output: what it last presented may have been replaced meanwhile.
    void takeOver()
    {
        m_presented = QImage();
        scheduleFrame();
    }
    void scheduleFrame()
    {
        if (!m_frame.isActive())
            m_frame.start(m_sinceFrame.isValid() && !m_sinceFrame.hasExpired(kFrameIntervalMs)
                    ? int(kFrameIntervalMs - m_sinceFrame.elapsed())
                    : 0);
    }

    void setFrame(const QRect &frame) override
    {
        const int output = static_cast<int>(m_screens.m_lock.outputs().indexOf(frame));
        if (output < 0 || output == m_output)
            return;
        const int left = std::exchange(m_output, output);
        m_screens.shownChanged(left);
        m_screens.shownChanged(output);
    }
    void orderFront() override { }
    void makeKeyAndOrderFront() override { }
    // Not a window of the toolkit's: the output it is shown on, counted from one.
    quintptr nativeHandle() const override { return static_cast<quintptr>(m_output + 1); }
    void setInputHeld(bool held) override
    {
        if (m_pad)
            m_pad->setInputHeld(held);
    }

private:
    void render()
    {
        platform::CompositorLock &lock = m_screens.m_lock;
        const QSize size = lock.pictureSize(m_output);
        if (size.isEmpty() || m_screens.shownOn(m_output) != this)
            return;
        // Drawn at the output's own pixels: the view laid out at its logical size, scaled up.
        m_scale = lock.pictureScale(m_output);
        if (m_window->size() != size * m_scale || m_view->size() != size) {
            m_window->resize(size * m_scale);
            m_window->contentItem()->setSize(size * m_scale);
            m_view->setTransformOrigin(QQuickItem::TopLeft);
            m_view->setScale(m_scale);
            m_view->setSize(size);
        }
        // The view asks again for things nobody sees (the hidden field's cursor blinks).
        m_sinceFrame.start();
        QImage picture = m_window->grabWindow();
        if (picture == m_presented)
            return;
        m_presented = picture;
        lock.present(m_output, picture);
    }
    // Input in the output's logical pixels, to the window's.
    void deliver(QEvent *event)
    {
        auto *mouse = event->isPointerEvent() ? static_cast<QMouseEvent *>(event) : nullptr;
        if (!mouse || m_scale == 1) {
            QCoreApplication::sendEvent(m_window.get(), event);
            return;
        }
        const QPointF at = mouse->position() * m_scale;
        QMouseEvent scaled(mouse->type(), at, at, mouse->button(), mouse->buttons(), mouse->modifiers());
        QCoreApplication::sendEvent(m_window.get(), &scaled);
    }

    RenderedLockScreens &m_screens;
    int m_output;
    QPointer<LockPad> m_pad;
    QQuickItem *m_view;
    std::unique_ptr<QQuickRenderControl> m_control;
    std::unique_ptr<QQuickWindow> m_window;
    QTimer m_frame;
    QElapsedTimer m_sinceFrame;
    QImage m_presented;
    int m_scale = 1;
};

RenderedLockScreens::RenderedLockScreens(QQmlEngine &engine, platform::CompositorLock &lock)
    : m_engine(engine), m_lock(lock)
{
}

RenderedLockScreens::~RenderedLockScreens() = default;

QList<QRect> RenderedLockScreens::screens() const
{
    return m_lock.outputs();
}

std::unique_ptr<LockSurface> RenderedLockScreens::createWindow(
    const QRect &frame, const QString &message, bool aboveLoginWindow, PinSubmit submit)
{
    Q_UNUSED(aboveLoginWindow);
    const int output = static_cast<int>(m_lock.outputs().indexOf(frame));
    if (output < 0)
        return nullptr;
    // The lock surfaces exist only within the lock: it is asked for with the first window.
    m_lock.lock();
    auto *pad = new LockPad(message, std::move(submit));
    QQmlComponent component(&m_engine);
    component.setData("import Pelk.Lock\nLockView {}\n", QUrl(u"qrc:/pelk/RenderedLockViewLoader.qml"_s));
    QObject *object = component.isReady()
        ? component.createWithInitialProperties({ { u"pad"_s, QVariant::fromValue(pad) } })
        : nullptr;
    auto *view = qobject_cast<QQuickItem *>(object);
    if (!view) {
        qCWarning(lcLock, "the lock view does not load: %s", qPrintable(component.errorString()));
        delete object;
        delete pad;
        return nullptr;
    }
    auto control = std::make_unique<QQuickRenderControl>();
    auto window = std::make_unique<QQuickWindow>(control.get());
    QQmlEngine::setObjectOwnership(view, QQmlEngine::CppOwnership);
    view->setParent(window.get());
    view->setParentItem(window->contentItem());
    auto surface
        = std::make_unique<RenderedLockSurface>(*this, output, pad, view, std::move(control), std::move(window));
    m_surfaces.push_back(surface.get());
    shownChanged(output);
    return surface;
}

RenderedLockSurface *RenderedLockScreens::shownOn(int output) const
{
    // The newest window of an output is the one shown.
    const auto newest = std::find_if(
        m_surfaces.rbegin(), m_surfaces.rend(), [&](const auto *surface) { return surface->output() == output; });
    return newest != m_surfaces.rend() ? *newest : nullptr;
}

void RenderedLockScreens::shownChanged(int output)
{
    if (RenderedLockSurface *shown = shownOn(output))
        shown->takeOver();
}

void RenderedLockScreens::forget(RenderedLockSurface *surface)
{
    const bool wasShown = shownOn(surface->output()) == surface;
    std::erase(m_surfaces, surface);
    if (wasShown)
        shownChanged(surface->output());
}

} // namespace pelk::lock
