#include "fakes/FakeDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"
#include "recovery/RequestText.h"

#include <QTest>

using namespace pelk;
using namespace pelk::recovery;
using namespace Qt::StringLiterals;

namespace {

const QString kName = u"pelk-r-0123456789ab"_s;
const QString kPassword = u"correct horse battery"_s;

const QStringList kAllSteps { u"openLocalNode"_s, u"findUserByName"_s, u"findUserByUniqueId"_s, u"canStorePassword"_s,
    u"createUser"_s, u"setPassword"_s, u"findGroup"_s, u"addMember"_s, u"commitUser"_s, u"commitGroup"_s,
    u"verifyPassword"_s, u"isMember"_s, u"createHomeDirectory"_s };

QByteArray request(const QString &name, const QString &password, const QByteArray &uid = "501")
{
    return requestText(name.toUtf8(), password.toUtf8(), uid);
}

QString repeated(const QString &unit, int count)
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += unit;
    return out;
}

// Runs the creator as root on the given standard input, counting the reads.
struct Run {
    fakes::FakeDirectoryService directory;
    int reads = 0;
    qsizetype askedFor = -1;

    int operator()(const QByteArray &input, uint euid = 0)
    {
        RecoveryAdminCreator creator(
            [this, input](qsizetype maxBytes) {
                ++reads;
                askedFor = maxBytes;
                return std::optional(input.left(maxBytes));
            },
            [euid] { return euid; }, directory);
        return creator.run();
    }
};

} // namespace

class TestRecoveryAdmin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestRules_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("valid") << request(kName, kPassword) << true;
        QTest::newRow("other members ignored")
            << QByteArray("{\"extra\":[1],\"username\":\"pelk-r-0123456789ab\",\"password\":\"correct horse "
                          "battery\",\"uid\":501,\"hidden\":true}")
            << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no uid") << QByteArray("{\"username\":\"pelk-r-0123456789ab\",\"password\":\"0123456789ab\"}")
                                << false;
        QTest::newRow("uid as text") << request(kName, kPassword, "\"501\"") << false;
        QTest::newRow("uid beyond 64 bits") << request(kName, kPassword, "9223372036854775808") << false;

        QTest::newRow("name upper-case digit") << request(u"pelk-r-0123456789aB"_s, kPassword) << false;
        QTest::newRow("name 11 digits") << request(u"pelk-r-0123456789a"_s, kPassword) << false;
        QTest::newRow("name 13 digits") << request(u"pelk-r-0123456789abc"_s, kPassword) << false;
        QTest::newRow("name not hex") << request(u"pelk-r-0123456789ag"_s, kPassword) << false;
        QTest::newRow("name trailing newline") << request(kName + u'\n', kPassword) << false;
        QTest::newRow("name full-width digit") << request(u"pelk-r-0123456789a\uFF11"_s, kPassword) << false;

        QTest::newRow("password 12 emoji") << request(kName, repeated(u"\U0001F600"_s, 12)) << true;
        QTest::newRow("password 11 emoji") << request(kName, repeated(u"\U0001F600"_s, 11)) << false;
        QTest::newRow("password 11 families")
            << request(kName, repeated(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s, 11)) << false;
        QTest::newRow("password 12 families")
            << request(kName, repeated(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s, 12)) << true;
        QTest::newRow("password 128 flags") << request(kName, repeated(u"\U0001F1EB\U0001F1F7"_s, 128)) << true;
        QTest::newRow("password 129 flags") << request(kName, repeated(u"\U0001F1EB\U0001F1F7"_s, 129)) << false;
        QTest::newRow("password newline and colon") << request(kName, u"abc:def\nroot:x"_s) << true;

        QTest::newRow("uid 500") << request(kName, kPassword, "500") << false;
        QTest::newRow("uid 501") << request(kName, kPassword, "501") << true;
        QTest::newRow("uid negative") << request(kName, kPassword, "-501") << false;
        QTest::newRow("uid largest") << request(kName, kPassword, "9223372036854775807") << true;

        // The size limit counts bytes of the whole input, whatever they hold.
        QByteArray padded = request(kName, kPassword);
        padded += QByteArray(2047 - padded.size(), ' ');
        QTest::newRow("2047 bytes") << padded << true;
        QTest::newRow("2048 bytes") << padded + ' ' << false;
    }
    void requestRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, accepted);
        Run run;
        QCOMPARE(run(input), accepted ? 0 : 1);
        if (!accepted)
            QCOMPARE(run.directory.calls, QStringList()); // refused before the directory is even opened
    }

    void unreadableInputFails()
    {
        fakes::FakeDirectoryService directory;
        RecoveryAdminCreator creator(
            [](qsizetype) { return std::optional<QByteArray>(); }, [] { return 0u; }, directory);
        QCOMPARE(creator.run(), 1);
        QCOMPARE(directory.calls, QStringList());
    }

    void createsTheAccountInOrder()
    {
        Run run;
        QCOMPARE(run(request(kName, kPassword, "4294967296")), 0);
        QCOMPARE(run.reads, 1);
        QCOMPARE(run.askedFor, 2048);
        QCOMPARE(run.directory.calls, kAllSteps);

        QCOMPARE(run.directory.created.size(), 1);
        const platform::NewUserRecord record = run.directory.created.first();
        QCOMPARE(record.recordName, kName);
        QCOMPARE(record.uniqueId, u"4294967296"_s);
        QCOMPARE(record.primaryGroupId, u"20"_s);
        QCOMPARE(record.homeDirectory, u"/Users/pelk-r-0123456789ab"_s);
        QCOMPARE(record.userShell, u"/bin/zsh"_s);
        QCOMPARE(record.fullName, u"Pelk Recovery Administrator"_s);
        QCOMPARE(run.directory.passwords.value(kName), kPassword);
        QCOMPARE(run.directory.members.value(u"admin"_s), QStringList { kName });

        Run second;
        QCOMPARE(second(request(u"pelk-r-ba9876543210"_s, kPassword, "502")), 0);
        QVERIFY(!record.guid.isEmpty() && second.directory.created.first().guid != record.guid);
    }

    // Every step that fails ends the run with 1 at once, and what came before stays done.
    void stopsAtTheFirstFailingStep_data()
    {
        QTest::addColumn<QString>("step");
        for (const QString &step : kAllSteps)
            QTest::newRow(qPrintable(step)) << step;
    }
    void stopsAtTheFirstFailingStep()
    {
        QFETCH(QString, step);
        Run run;
        run.directory.failing = step;
        QCOMPARE(run(request(kName, kPassword)), 1);
        QCOMPARE(run.directory.calls, kAllSteps.mid(0, kAllSteps.indexOf(step) + 1));
        const bool changed = kAllSteps.indexOf(step) > kAllSteps.indexOf(u"createUser"_s);
        QCOMPARE(run.directory.userNames.contains(kName), changed);
    }

    void takenNameOrUidChangesNothing_data()
    {
        QTest::addColumn<bool>("nameTaken");
        QTest::addColumn<QString>("lastStep");
        QTest::newRow("name") << true << u"findUserByName"_s;
        QTest::newRow("uid") << false << u"findUserByUniqueId"_s;
    }
    void takenNameOrUidChangesNothing()
    {
        QFETCH(bool, nameTaken);
        QFETCH(QString, lastStep);
        Run run;
        if (nameTaken)
            run.directory.userNames.insert(kName);
        else
            run.directory.uniqueIds.insert(501);
        QCOMPARE(run(request(kName, kPassword)), 1);
        QCOMPARE(run.directory.calls.last(), lastStep);
        QVERIFY(run.directory.created.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRecoveryAdmin)
#include "test_recovery_admin.moc"
