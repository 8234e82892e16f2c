// agent-sim: runs a fake background agent until killed or told to quit.
//   agent-sim --dir DIR [--port N] [--control-port N] [--pin PIN] [--session TOKEN]
//             [--scenario none|demo] [--quick] [--telemetry-uid UID] [--timeout-ms MS]
// Prints one JSON line on standard output once both servers listen:
//   {"port":N,"control_port":M,"base_url":"http://127.0.0.1:N","session":"...","dir":"...","pid":P}

#include "AgentSimulator.h"
#include "ControlServer.h"
#include "DemoScenario.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace pelk::agentsim;

namespace {

int fail(const QString &message)
{
    const QByteArray text = "agent-sim: " + message.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    return 2;
}

std::optional<quint16> portOption(const QCommandLineParser &parser, const QString &name)
{
    if (!parser.isSet(name))
        return quint16(0);
    bool ok = false;
    const uint port = parser.value(name).toUInt(&ok);
    if (!ok || port > 65535)
        return std::nullopt;
    return quint16(port);
}

void quitOnSignal(int)
{
    // Only async-signal-safe work here: the files stay for the caller to inspect or remove.
    ::_exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"agent-sim"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Fake background agent: serves the local API on 127.0.0.1 and writes the agent's state "
        "files into DIR. Driven through the control API (see tools/agent-sim/README.md)."_s);
    parser.addHelpOption();
    parser.addOptions({
        { u"dir"_s, u"Directory for the state files (created if missing)."_s, u"DIR"_s },
        { u"port"_s, u"Port of the local agent API (default: any free port)."_s, u"N"_s },
        { u"control-port"_s, u"Port of the control API (default: any free port)."_s, u"N"_s },
        { u"pin"_s, u"PIN that \"unlock\" accepts (default: none; 123456 with --scenario demo)."_s, u"PIN"_s },
        { u"session"_s, u"Session token for X-Pelk-Session (default: random)."_s, u"TOKEN"_s },
        { u"scenario"_s, u"none (default; writes nothing until told) or demo."_s, u"NAME"_s, u"none"_s },
        { u"quick"_s, u"Demo scenario with short waits (2 s between steps, 3 s to the relock)."_s },
        { u"telemetry-uid"_s, u"Also create agent-telemetry/UID/ for that user's location file."_s, u"UID"_s },
        { u"timeout-ms"_s, u"Per-connection deadline of the local API (default 10000)."_s, u"MS"_s },
    });
    parser.process(app);

    if (!parser.isSet(u"dir"_s))
        return fail(u"--dir is required"_s);
    const QString dir = QDir(parser.value(u"dir"_s)).absolutePath();
    if (!QDir().mkpath(dir))
        return fail(u"cannot create "_s + dir);
    const auto port = portOption(parser, u"port"_s);
    const auto controlPort = portOption(parser, u"control-port"_s);
    if (!port || !controlPort)
        return fail(u"ports are numbers from 0 to 65535"_s);
    const QString scenario = parser.value(u"scenario"_s);
    if (scenario != "none"_L1 && scenario != "demo"_L1)
        return fail(u"unknown scenario "_s + scenario);

    AgentSimulator simulator(dir);
    if (parser.isSet(u"session"_s))
        simulator.setSession(parser.value(u"session"_s));
    QString pin = parser.value(u"pin"_s);
    if (pin.isEmpty() && scenario == "demo"_L1)
        pin = u"123456"_s;
    if (!pin.isEmpty())
        simulator.setPin(pin);
    if (parser.isSet(u"timeout-ms"_s))
        simulator.setConnectionTimeout(parser.value(u"timeout-ms"_s).toInt());
    if (parser.isSet(u"telemetry-uid"_s)
        && !simulator.provideTelemetryDirectory(parser.value(u"telemetry-uid"_s).toUInt()))
        return fail(u"cannot create the telemetry directory"_s);

    if (!simulator.listen(*port))
        return fail(u"cannot listen on 127.0.0.1:"_s + QString::number(*port));
    ControlServer control(simulator);
    if (!control.listen(*controlPort))
        return fail(u"cannot listen on 127.0.0.1:"_s + QString::number(*controlPort));
    QObject::connect(
        &control, &ControlServer::quitRequested, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    std::signal(SIGTERM, quitOnSignal);
    std::signal(SIGINT, quitOnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    const QJsonObject ready { { u"port"_s, simulator.port() }, { u"control_port"_s, control.port() },
        { u"base_url"_s, simulator.baseUrl() }, { u"session"_s, simulator.session() }, { u"dir"_s, dir },
        { u"pid"_s, qint64(::getpid()) } };
    const QByteArray line = QJsonDocument(ready).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);

    DemoScenario demo(simulator, pin, parser.isSet(u"quick"_s) ? DemoScenario::kQuickPace : DemoScenario::kNormalPace);
    if (scenario == "demo"_L1)
        demo.start();
    return QCoreApplication::exec();
}
