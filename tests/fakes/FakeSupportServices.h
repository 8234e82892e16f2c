#pragma once

#include "platform/ConsoleSession.h"
#include "platform/InputInjector.h"
#include "platform/ScreenCapture.h"
#include "support/SupportWindows.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace pelk::fakes {

// A login session whose lock and console state the test sets.
class FakeConsoleSession : public platform::ConsoleSession {
public:
    Properties answer;
    Properties properties() override { return answer; }
    void end() { Q_EMIT sessionEnded(); }
};

// A display that captures on request; the test answers each capture or lookup when it wants.
class FakeScreenCapture : public platform::ScreenCapture {
public:
    bool shareable = true;
    bool permitted = true;
    std::optional<QRect> bounds = QRect(0, 0, 1440, 900);
    std::vector<std::function<void(std::optional<platform::MainDisplay>)>> lookups;
    struct Capture {
        QSize size;
        int quality = 0;
        std::function<void(std::optional<QByteArray>)> done;
    };
    std::vector<Capture> captures;

    bool isShareableSession() override { return shareable; }
    bool capturePermitted() override { return permitted; }
    std::optional<QRect> mainDisplayBounds() override { return bounds; }
    void findMainDisplay(std::function<void(std::optional<platform::MainDisplay>)> done) override
    {
        lookups.push_back(std::move(done));
    }
    void captureJpeg(const platform::MainDisplay &, QSize size, int quality,
        std::function<void(std::optional<QByteArray>)> done) override
    {
        captures.push_back(Capture { size, quality, std::move(done) });
    }
    // Each answer once: a second answer to the same request is a test bug, and throws.
    void answerLookup(size_t i, std::optional<platform::MainDisplay> display)
    {
        std::exchange(lookups.at(i), {})(display);
    }
    void answerCapture(size_t i, std::optional<QByteArray> jpeg) { std::exchange(captures.at(i).done, {})(jpeg); }
};

// Records every posted event as one line of text, e.g. "LeftDown 10,20 1 Left".
class FakeInputInjector : public platform::InputInjector {
public:
    bool permitted = true;
    QStringList posted;

    bool controlPermitted() override { return permitted; }
    bool postMouse(MouseEvent kind, QPointF at, int clickState, Button button) override
    {
        static const char *const names[] = { "LeftDown", "LeftUp", "RightDown", "RightUp", "Moved", "LeftDragged" };
        posted << QStringLiteral("%1 %2,%3 %4 %5")
                      .arg(QLatin1StringView(names[int(kind)]))
                      .arg(at.x())
                      .arg(at.y())
                      .arg(clickState)
                      .arg(button == Button::Left ? QStringLiteral("Left") : QStringLiteral("Right"));
        return true;
    }
    bool postScroll(qint32 lines) override
    {
        posted << QStringLiteral("Scroll %1").arg(lines);
        return true;
    }
    bool postKey(quint32 keysym, Modifiers modifiers, bool down) override
    {
        posted << QStringLiteral("Key%1 0x%2 %3")
                      .arg(down ? QStringLiteral("Down") : QStringLiteral("Up"))
                      .arg(keysym, 0, 16)
                      .arg(int(modifiers));
        return true;
    }
};

// Counts panels and keeps notices; the test closes them as the user would.
class FakeSupportWindows : public support::PanelPresenter, public support::NoticePresenter {
public:
    struct Panel : support::SupportPanel {
        explicit Panel(int &shown) : m_shown(++shown) { }
        ~Panel() override { --m_shown; }
        int &m_shown;
    };
    int panelsShown = 0; // alive now
    int panelsCreated = 0;
    std::function<void()> closePanel;
    struct Notice {
        QString informative;
        std::function<void()> closed;
    };
    std::vector<Notice> notices;

    std::unique_ptr<support::SupportPanel> showPanel(support::SupportModel &, std::function<void()> close) override
    {
        ++panelsCreated;
        closePanel = std::move(close);
        return std::make_unique<Panel>(panelsShown);
    }
    void activate() override { }
    void showNotice(const QString &, const QString &informative, const QString &, std::function<void()> closed) override
    {
        notices.push_back(Notice { informative, std::move(closed) });
    }
    void closeNotice(size_t i) { std::exchange(notices.at(i).closed, {})(); }
};

} // namespace pelk::fakes
