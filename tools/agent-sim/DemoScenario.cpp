#include "DemoScenario.h"

#include "AgentSimulator.h"
#include "boundary/AgentBoundary.h"

#include <QDateTime>
#include <QJsonObject>
#include <QUuid>

#include <cstdio>

namespace pelk::agentsim {

using namespace Qt::StringLiterals;
namespace key = boundary::key;

DemoScenario::DemoScenario(AgentSimulator &simulator, QString pin, Pace pace, QObject *parent)
    : QObject(parent), m_simulator(simulator), m_pin(std::move(pin)), m_pace(pace)
{
    m_step.setSingleShot(true);
    connect(&m_simulator, &AgentSimulator::requestReceived, this, [this](const RecordedRequest &r) {
        if (r.path == u'/' + boundary::kUnlockEndpoint)
            say(r.status == 200 ? u"PIN accepted: the agent unlocked the computer."_s
                                : u"PIN refused (answer %1)."_s.arg(r.status));
        else if (r.path == boundary::kSupportPath && r.body && r.body->value(key::kAction) != u"frame"_s)
            say(u"support: \"%1\" -> %2"_s.arg(
                r.body->value(key::kAction).toString(), supportStateName(m_simulator.supportState())));
    });
    connect(&m_simulator, &AgentSimulator::frameReceived, this, [this](int count) {
        if (count == 1 || count % 20 == 0)
            say(u"support: %1 frame(s) received."_s.arg(count));
    });
    connect(&m_simulator, &AgentSimulator::lockChanged, this, [this](bool locked) {
        if (!locked)
            after(m_pace.stepMs, &DemoScenario::offerSupport);
    });
    connect(&m_simulator, &AgentSimulator::supportStateChanged, this, [this](SupportState state) {
        if (state == SupportState::Ended)
            after(m_pace.stepMs, &DemoScenario::announceRestart);
    });
}

void DemoScenario::say(const QString &line) const
{
    const QByteArray text = "[agent-sim] " + line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

void DemoScenario::after(int ms, void (DemoScenario::*step)())
{
    // Only a started demo moves on by itself; otherwise a test's own steps are left alone.
    if (!m_running)
        return;
    m_step.disconnect(this);
    connect(&m_step, &QTimer::timeout, this, step);
    m_step.start(ms);
}

void DemoScenario::start()
{
    m_running = true;
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    m_simulator.setStatus(u"connected"_s, u"Connected to Acme Corp. Policies are up to date."_s,
        QJsonObject { { QString(key::kVersion), u"1.0.0-sim"_s }, { QString(key::kWorkspace), u"Acme Corp"_s },
            { QString(key::kBaseUrl), u"https://acme.example.com"_s }, { QString(key::kDeviceName), u"demo-desktop"_s },
            { QString(key::kDeviceId), 4217 }, { QString(key::kLastCheckin), now },
            { QString(key::kNextCheckinSeconds), 60 }, { QString(key::kSigningReady), true },
            { QString(key::kBrowserHistoryEnabled), false }, { QString(key::kEnrolled), true } });
    m_simulator.setStatusHeartbeat(10000);
    m_simulator.setLock(false, QUuid::createUuid().toString(QUuid::WithoutBraces));
    m_simulator.writeDesktopState();
    say(u"status: connected (refreshed every 10 s). A lock follows in %1 s."_s.arg(m_pace.firstLockMs / 1000));
    after(m_pace.firstLockMs, &DemoScenario::lockNow);
}

void DemoScenario::lockNow()
{
    ++m_round;
    m_simulator.lock(QUuid::createUuid().toString(QUuid::WithoutBraces),
        u"This computer was locked by Acme IT. Call the help desk on 555-0100 for your PIN."_s);
    say(u"LOCKED. Type the PIN %1 on the lock screen to unlock."_s.arg(m_pin));
}

void DemoScenario::offerSupport()
{
    SupportOffer offer;
    offer.sessionId = u"demo-session-%1"_s.arg(m_round);
    offer.technician = u"Sam Rivera (Acme IT)"_s;
    offer.mode = u"view"_s;
    offer.expiresAt = QDateTime::currentSecsSinceEpoch() + 120;
    m_simulator.putOffer(offer);
    say(u"support: Sam Rivera asks to view the screen (offer open for 2 minutes)."_s);
    // An offer nobody answers simply expires; go on to the restart notice then.
    after(120 * 1000 + 1000, &DemoScenario::announceRestart);
}

void DemoScenario::announceRestart()
{
    m_simulator.withdrawOffer();
    m_simulator.putRestart({ u"demo-restart-%1"_s.arg(m_round), u"Firefox"_s });
    say(u"restart notice: Firefox was changed and needs a restart. The lock returns in %1 s."_s.arg(
        m_pace.relockMs / 1000));
    after(m_pace.relockMs, &DemoScenario::lockNow);
}

} // namespace pelk::agentsim
