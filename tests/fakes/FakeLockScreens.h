#pragma once

#include "lock/LockScreens.h"

#include <QList>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

namespace pelk::fakes {

// Screens set by the test; every window made is kept, so tests see what is open, where,
// with which message, which one has the focus, and can drive its PIN pad.
class FakeLockScreens : public lock::LockScreens {
public:
    struct Window {
        QRect frame;
        QString message;
        bool aboveLoginWindow = false;
        lock::PinSubmit submit;
        bool key = false;
        bool open = true;
    };

    class Surface : public lock::LockSurface {
    public:
        Surface(std::shared_ptr<Window> w, quintptr id) : m_window(std::move(w)), m_id(id) { }
        ~Surface() override { m_window->open = false; }
        void setFrame(const QRect &frame) override { m_window->frame = frame; }
        void orderFront() override { }
        void makeKeyAndOrderFront() override { m_window->key = true; }
        quintptr nativeHandle() const override { return m_id; }

    private:
        std::shared_ptr<Window> m_window;
        quintptr m_id;
    };

    QList<QRect> screenList { QRect(0, 0, 1024, 768) };
    std::vector<std::shared_ptr<Window>> created;

    QList<QRect> screens() const override { return screenList; }
    std::unique_ptr<lock::LockSurface> createWindow(
        const QRect &frame, const QString &message, bool above, lock::PinSubmit submit) override
    {
        auto w = std::make_shared<Window>(Window { frame, message, above, std::move(submit) });
        created.push_back(w);
        return std::make_unique<Surface>(w, static_cast<quintptr>(created.size()) + 100);
    }

    std::vector<std::shared_ptr<Window>> openWindows() const
    {
        std::vector<std::shared_ptr<Window>> open;
        for (const auto &w : created) {
            if (w->open)
                open.push_back(w);
        }
        return open;
    }
};

} // namespace pelk::fakes
