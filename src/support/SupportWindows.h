#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace pelk::support {

class SupportModel;

// The consent and sharing window while it is shown; destroying it hides it.
class SupportPanel {
public:
    virtual ~SupportPanel() = default;
};

// Shows the consent and sharing window.
class PanelPresenter {
public:
    virtual ~PanelPresenter() = default;
    // A floating panel showing the model, centred and in front. closeRequested runs later, on
    // the main thread, when the user closes it with its close button.
    virtual std::unique_ptr<SupportPanel> showPanel(SupportModel &model, std::function<void()> closeRequested) = 0;
    // Bring the application to the front, taking the focus from other applications.
    virtual void activate() = 0;
};

// Shows a restart notice: a message, an informative text and one button. It never blocks the
// event loop (the lock must keep working); closed runs once, later, when the user closed it.
class NoticePresenter {
public:
    virtual ~NoticePresenter() = default;
    virtual void showNotice(
        const QString &message, const QString &informative, const QString &button, std::function<void()> closed)
        = 0;
};

} // namespace pelk::support
