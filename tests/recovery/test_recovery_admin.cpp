#include "fakes/FakeDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"
#include "recovery/RequestText.h"

#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;
using fakes::FakeDirectoryService;

namespace {

const QString kName = u"pelk-r-0123456789ab"_s;
const QString kPassword = u"correct horse battery"_s;

QByteArray request(const QString &name = kName, const QString &password = kPassword, const QByteArray &uid = "501")
{
    return requestText(name, password, uid);
}

// The creator's exit status for this standard input (nothing: reading failed) and effective uid.
int create(FakeDirectoryService &directory, const std::optional<QByteArray> &input, uint euid = 0, int *reads = nullptr)
{
    recovery::RecoveryAdminCreator creator(
        [&](qsizetype maxBytes) {
            if (reads)
                ++*reads;
            return input ? std::optional(input->left(maxBytes)) : input;
        },
        [euid] { return euid; }, directory);
    return creator.run();
}

} // namespace

class TestRecoveryAdmin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestRules_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("accepted");
        const QString emoji = u"\U0001F600"_s, family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s;
        const QString flag = u"\U0001F1EB\U0001F1F7"_s;
        QTest::newRow("valid") << request() << true;
        QTest::newRow("other members ignored") << "{\"x\":[1]," + request().mid(1) << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no uid") << request().replace(",\"uid\":501", "") << false;
        QTest::newRow("uid as text") << request(kName, kPassword, "\"501\"") << false;
        QTest::newRow("uid beyond 64 bits") << request(kName, kPassword, "9223372036854775808") << false;
        QTest::newRow("uid 500") << request(kName, kPassword, "500") << false;
        QTest::newRow("uid largest") << request(kName, kPassword, "9223372036854775807") << true;
        QTest::newRow("name upper-case digit") << request(u"pelk-r-0123456789aB"_s) << false;
        QTest::newRow("name 11 digits") << request(u"pelk-r-0123456789a"_s) << false;
        QTest::newRow("name 13 digits") << request(u"pelk-r-0123456789abc"_s) << false;
        QTest::newRow("name not hex") << request(u"pelk-r-0123456789ag"_s) << false;
        QTest::newRow("name trailing newline") << request(kName + u'\n') << false;
        // Lengths count what a user sees as one character.
        QTest::newRow("password 12 emoji") << request(kName, emoji.repeated(12)) << true;
        QTest::newRow("password 11 emoji") << request(kName, emoji.repeated(11)) << false;
        QTest::newRow("password 11 families") << request(kName, family.repeated(11)) << false;
        QTest::newRow("password 12 families") << request(kName, family.repeated(12)) << true;
        QTest::newRow("password 128 flags") << request(kName, flag.repeated(128)) << true;
        QTest::newRow("password 129 flags") << request(kName, flag.repeated(129)) << false;
        // The size limit counts bytes of the whole input, whatever they hold.
        const QByteArray padded = request() + QByteArray(2047 - request().size(), ' ');
        QTest::newRow("2047 bytes") << padded << true;
        QTest::newRow("2048 bytes") << padded + ' ' << false;
    }
    void requestRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, accepted);
        FakeDirectoryService directory;
        QCOMPARE(create(directory, input), accepted ? 0 : 1);
        QCOMPARE(directory.touched, accepted); // refused before the directory is even opened
    }

    void refusedBeforeReading()
    {
        FakeDirectoryService directory;
        int reads = 0;
        QCOMPARE(create(directory, request(), 501, &reads), 1); // not root
        QCOMPARE(reads, 0);
        QCOMPARE(create(directory, std::nullopt), 1); // standard input unreadable
        QVERIFY(!directory.touched);
    }

    // Every failing step ends the run with 1 at once, and what came before stays done.
    void stopsAtTheFirstFailingStep_data()
    {
        QTest::addColumn<QString>("step");
        for (const QString &step : FakeDirectoryService::kSteps)
            QTest::newRow(qPrintable(step)) << step;
    }
    void stopsAtTheFirstFailingStep()
    {
        QFETCH(QString, step);
        FakeDirectoryService directory;
        directory.failing = step;
        QCOMPARE(create(directory, request()), 1);
        const auto &steps = FakeDirectoryService::kSteps;
        QCOMPARE(directory.users.contains(kName), steps.indexOf(step) > steps.indexOf(u"createUser"_s));
    }

    void takenNameOrUidChangesNothing()
    {
        for (const bool nameTaken : { true, false }) {
            FakeDirectoryService directory;
            directory.users.insert(nameTaken ? kName : u"other"_s, {});
            directory.uniqueIds.insert(nameTaken ? 600 : 501);
            QCOMPARE(create(directory, request()), 1);
            QCOMPARE(directory.users.size(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecoveryAdmin)
#include "test_recovery_admin.moc"
