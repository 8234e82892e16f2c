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
    DemoScenario(AgentSimulator &simulator, QString pin, QObject *parent = nullptr);
    void start();

    static constexpr int kFirstLockDelayMs = 8000;
    static constexpr int kStepDelayMs = 5000;
    static constexpr int kRelockDelayMs = 30000;

private:
    void say(const QString &line) const;
    void lockNow();
    void offerSupport();
    void announceRestart();
    void after(int ms, void (DemoScenario::*step)());

    AgentSimulator &m_simulator;
    QString m_pin;
    QTimer m_step;
    bool m_running = false;
    int m_round = 0;
};

} // namespace pelk::agentsim
