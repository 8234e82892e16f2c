#pragma once

#include "support/SupportWindows.h"

#include <QObject>

#include <functional>

class QQmlEngine;
class QQuickWindow;

namespace pelk::platform {
class WindowStacking;
}

namespace pelk::support {

// Hands a window's user action (close, "Got it") back to C++ later, on the main thread, so
// that the window is never destroyed inside its own event delivery.
class WindowBridge : public QObject {
    Q_OBJECT
public:
    explicit WindowBridge(std::function<void()> action, QObject *parent = nullptr);
    void setAction(std::function<void()> action);
    Q_INVOKABLE void trigger();

private:
    std::function<void()> m_action;
};

// The consent panel and the restart notice as Qt Quick windows (Pelk.Support module).
class QuickSupportWindows : public QObject, public PanelPresenter, public NoticePresenter {
    Q_OBJECT
public:
    // Both windows are kept in view on every workspace through stacking.
    QuickSupportWindows(QQmlEngine &engine, platform::WindowStacking &stacking, QObject *parent = nullptr);

    std::unique_ptr<SupportPanel> showPanel(SupportModel &model, std::function<void()> closeRequested) override;
    void activate() override;
    void showNotice(const QString &message, const QString &informative, const QString &button,
        std::function<void()> closed) override;

private:
    QQuickWindow *create(const QByteArray &type, const QVariantMap &properties);

    QQmlEngine &m_engine;
    platform::WindowStacking &m_stacking;
};

} // namespace pelk::support
