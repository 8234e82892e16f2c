#include "support/QuickSupportWindows.h"

#include "support/SupportLog.h"

#include "platform/ViewWindow.h"
#include "platform/WindowStacking.h"
#include "support/SupportModel.h"

#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>

#include <utility>

namespace pelk::support {

using namespace Qt::StringLiterals;

namespace {

class QuickPanel : public SupportPanel {
public:
    QuickPanel(QQuickWindow *window, WindowBridge *bridge) : m_window(window), m_bridge(bridge) { }
    ~QuickPanel() override
    {
        if (m_window) {
            m_window->hide();
            m_window->deleteLater();
        }
        if (m_bridge)
            m_bridge->deleteLater();
    }

private:
    QPointer<QQuickWindow> m_window;
    QPointer<WindowBridge> m_bridge;
};

} // namespace

WindowBridge::WindowBridge(std::function<void()> action, QObject *parent) : QObject(parent), m_action(std::move(action))
{
}

void WindowBridge::setAction(std::function<void()> action)
{
    m_action = std::move(action);
}

void WindowBridge::trigger()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_action)
                m_action();
        },
        Qt::QueuedConnection);
}

QuickSupportWindows::QuickSupportWindows(QQmlEngine &engine, platform::WindowStacking &stacking, QObject *parent)
    : QObject(parent), m_engine(engine), m_stacking(stacking)
{
}

QQuickWindow *QuickSupportWindows::create(const QByteArray &type, const QVariantMap &properties)
{
    QQuickWindow *window = platform::createViewWindow(m_engine, "Pelk.Support", type, properties, lcSupport());
    if (!window)
        return nullptr;
    platform::centreOnPrimaryScreen(*window);
    window->create();
    m_stacking.keepInView(*window);
    return window;
}

std::unique_ptr<SupportPanel> QuickSupportWindows::showPanel(SupportModel &model, std::function<void()> closeRequested)
{
    auto *bridge = new WindowBridge(std::move(closeRequested));
    QQuickWindow *window = create("SupportWindow",
        { { u"model"_s, QVariant::fromValue<QObject *>(&model) },
            { u"bridge"_s, QVariant::fromValue<QObject *>(bridge) } });
    if (!window) {
        delete bridge;
        return nullptr;
    }
    window->show();
    window->raise();
    window->requestActivate();
    return std::make_unique<QuickPanel>(window, bridge);
}

void QuickSupportWindows::activate()
{
    // On X11 the panel's own activation request (made when it is shown) is how an
    // application comes to the front.
}

void QuickSupportWindows::showNotice(
    const QString &message, const QString &informative, const QString &button, std::function<void()> closed)
{
    auto *bridge = new WindowBridge({});
    QQuickWindow *window = create("RestartNotice",
        { { u"message"_s, message }, { u"informative"_s, informative }, { u"button"_s, button },
            { u"bridge"_s, QVariant::fromValue<QObject *>(bridge) } });
    if (!window) {
        // Nothing could be shown; the tick must not wait for a window that does not exist.
        delete bridge;
        QMetaObject::invokeMethod(
            this, [closed = std::move(closed)] { closed(); }, Qt::QueuedConnection);
        return;
    }
    QPointer<QQuickWindow> shown(window);
    bridge->setAction([shown, bridge, closed = std::move(closed)]() mutable {
        if (!closed)
            return; // "Got it" and the close button may both arrive
        if (shown) {
            shown->hide();
            shown->deleteLater();
        }
        bridge->deleteLater();
        std::exchange(closed, {})();
    });
    window->show();
    window->raise();
    window->requestActivate();
}

} // namespace pelk::support
