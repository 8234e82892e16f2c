#include "AgentModelFixture.h"

#include <QSignalSpy>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

// What the model makes of the agent's status file; members are written as the agent spells them.
class TestAgentModel : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;

private Q_SLOTS:
    void init() { f = std::make_unique<testing::AgentModelFixture>(); }

    void startPollsAtOnceAndShowsTheLocationLine()
    {
        QSignalSpy changed(f->model.get(), &agent::AgentModel::statusChanged);
        f->write(f->statusPath(), R"({"phase":"connected","message":"ok"})");
        f->model->start();
        QCOMPARE(changed.count(), 1);
        QVERIFY(f->model->connected());
        QCOMPARE(f->service->locationRequests, 1);
        QCOMPARE(f->model->locationMessage(),
            u"Waiting for a location from this computer. Battery and device health still report normally."_s);
    }

    // Older than its check-in interval (60 s when absent) plus 30 s, a status shows as stopped.
    void stale_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<QByteArray>("interval");
        QTest::addColumn<bool>("stale");
        QTest::newRow("exactly 90 s") << qint64(90000) << QByteArray("null") << false;
        QTest::newRow("90.001 s") << qint64(90001) << QByteArray("null") << true;
        QTest::newRow("330 s, interval 300") << qint64(330000) << QByteArray("300") << false;
        QTest::newRow("330.001 s, interval 300") << qint64(330001) << QByteArray("300") << true;
        QTest::newRow("limit overflows") << qint64(1e11) << QByteArray("9223372036854775807") << false;
        QTest::newRow("largest limit") << qint64(1e11) << QByteArray("9223372036854775777") << false;
        QTest::newRow("negative interval, future") << qint64(-5000) << QByteArray("-100") << true;
    }
    void stale()
    {
        QFETCH(qint64, ageMs);
        QFETCH(QByteArray, interval);
        QFETCH(bool, stale);
        f->status(R"("phase":"connected","device_name":"d1","updated_at":")" + f->iso(ageMs).toLatin1()
            + R"(","next_checkin_seconds":)" + interval);
        QCOMPARE(f->model->message(),
            stale ? u"The background service has not reported recently. Reinstall Pelk Agent if it does not recover."_s
                  : u"m"_s);
        QCOMPARE(f->model->connected(), !stale);
        QCOMPARE(f->model->deviceName(), u"d1"_s); // the rest stays as the agent wrote it
    }

    // Whether location reporting runs: the agent's "enrolled", else connected or offline.
    void enrolled_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<bool>("enrolled");
        QTest::newRow("connected") << QByteArray(R"("phase":"connected")") << true;
        QTest::newRow("offline") << QByteArray(R"("phase":"offline")") << true;
        QTest::newRow("connected, enrolled false") << QByteArray(R"("phase":"connected","enrolled":false)") << false;
        QTest::newRow("stopped, enrolled true") << QByteArray(R"("phase":"stopped","enrolled":true)") << true;
        QTest::newRow("case differs") << QByteArray(R"("phase":"Connected")") << false;
        QTest::newRow("garbled") << QByteArray(R"("phase":"connected","enrolled":1)") << false;
    }
    void enrolled()
    {
        QFETCH(QByteArray, members);
        f->status(members);
        QTEST(f->model->enrolled(), "enrolled");
        QTEST(f->model->location()->isActive(), "enrolled");
    }

    void previewVariableNamesTheStatusFile()
    {
        f->write(f->statusPath(), R"({"phase":"connected","message":""})");
        f->environment.set("PELK_AGENT_PREVIEW_STATUS", f->write(f->path("p"), R"({"phase":"revoked","message":"x"})"));
        f->model->refresh();
        QCOMPARE(f->model->title(), u"Device no longer managed"_s);
        f->environment.set("PELK_AGENT_PREVIEW_STATUS", QString()); // names no file
        f->model->refresh();
        QCOMPARE(f->model->title(), u"Agent is not responding"_s);
        f->environment.unset("PELK_AGENT_PREVIEW_STATUS");
        f->model->refresh();
        QVERIFY(f->model->connected());
    }

    // The check-in lines, from the clock at 2026-05-01T09:30:00Z.
    void checkinLines_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<QString>("lastSeen");
        QTest::addColumn<QString>("next"); // empty: the connected details are hidden
        const QString none = u"No check-in yet"_s;
        QTest::newRow("absent") << QByteArray(R"("phase":"connected")") << none << QString();
        QTest::newRow("unparsable") << QByteArray(R"("phase":"connected","last_checkin":"2026-05-01 09:28:00Z")")
                                    << none << QString();
        QTest::newRow("offline") << QByteArray(R"("phase":"offline","last_checkin":"2026-05-01T09:29:00Z")")
                                 << u"1 minute ago"_s << QString();
        QTest::newRow("60 s, default") << QByteArray(R"("phase":"connected","last_checkin":"2026-05-01T09:29:00Z")")
                                       << u"1 minute ago"_s << u"Checking in\u2026"_s;
        QTest::newRow("10 s, interval 300")
            << QByteArray(R"("phase":"connected","last_checkin":"2026-05-01T09:29:50Z",)"
                          R"("next_checkin_seconds":300)")
            << u"10 seconds ago"_s << u"Next check-in in 290s"_s;
        QTest::newRow("in the future") << QByteArray(R"("phase":"connected","last_checkin":"2026-05-01T09:30:30.000Z")")
                                       << u"in 30 seconds"_s << u"Next check-in in 90s"_s;
    }
    void checkinLines()
    {
        QFETCH(QByteArray, members);
        QFETCH(QString, next);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        f->status(members);
        QTEST(f->model->lastSeen(), "lastSeen");
        QCOMPARE(f->model->connectedDetailsShown(), !next.isEmpty());
        if (!next.isEmpty())
            QCOMPARE(f->model->nextCheckinLine(), next);
    }
};

QTEST_GUILESS_MAIN(TestAgentModel)
#include "test_agent_model.moc"
