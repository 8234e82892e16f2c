#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace pelk::agentsim {

class AgentSimulator;

// What the demo shows, in a loop: a connected agent at once; a lock with a message after a
// few seconds (its PIN printed on the terminal); once unlocked, a view-only support offer;
// once that ends or expires, a restart notice; then the lock again.
class DemoScenario : public QObject {
    Q_OBJECT
public:
    // The waits between the steps. A person at the keyboard needs time to read; a demo that drives
    // itself has already taken its screenshot and only needs the windows to settle.
    struct Pace {
        int firstLockMs;
        int stepMs;
        int relockMs;
    };
    static constexpr Pace kNormalPace { 8000, 5000, 30000 };
    static constexpr Pace kQuickPace { 8000, 2000, 3000 };

    DemoScenario(AgentSimulator &simulator, QString pin, Pace pace, QObject *parent = nullptr);
    void start();

private:
    void say(const QString &line) const;
    void lockNow();
    void offerSupport();
    void announceRestart();
    void after(int ms, void (DemoScenario::*step)());

    AgentSimulator &m_simulator;
    QString m_pin;
    Pace m_pace;
    QTimer m_step;
    bool m_running = false;
    int m_round = 0;
};

} // namespace pelk::agentsim
