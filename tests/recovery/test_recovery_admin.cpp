#include "fakes/FakeDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"
#include "recovery/RequestText.h"

#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;
using fakes::FakeDirectoryService;

namespace {

const QString kName = u"pelk-r-0123456789ab"_s;

// The creator's exit status for this standard input (nothing: reading failed) and effective uid.
int create(FakeDirectoryService &directory, const std::optional<QByteArray> &input, uint euid = 0)
{
    recovery::RecoveryAdminCreator creator(
        [&](qsizetype maxBytes) { return input ? std::optional(input->left(maxBytes)) : input; },
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
        const QString flag = u"\U0001F1EB\U0001F1F7"_s, password = u"correct horse battery"_s;
        QTest::newRow("valid") << requestText() << true;
        QTest::newRow("other members ignored") << "{\"x\":[1]," + requestText().mid(1) << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no uid") << requestText().replace(",\"uid\":501", "") << false;
        QTest::newRow("uid as text") << requestText(kName, password, "\"501\"") << false;
        QTest::newRow("uid beyond 64 bits") << requestText(kName, password, "9223372036854775808") << false;
        QTest::newRow("uid 500") << requestText(kName, password, "500") << false;
        QTest::newRow("uid largest") << requestText(kName, password, "9223372036854775807") << true;
        QTest::newRow("name upper-case digit") << requestText(u"pelk-r-0123456789aB"_s) << false;
        QTest::newRow("name 11 digits") << requestText(u"pelk-r-0123456789a"_s) << false;
        QTest::newRow("name 13 digits") << requestText(u"pelk-r-0123456789abc"_s) << false;
        QTest::newRow("name not hex") << requestText(u"pelk-r-0123456789ag"_s) << false;
        QTest::newRow("name trailing newline") << requestText(kName + u'\n') << false;
        // Lengths count what a user sees as one character.
        QTest::newRow("password 12 emoji") << requestText(kName, emoji.repeated(12)) << true;
        QTest::newRow("password 11 emoji") << requestText(kName, emoji.repeated(11)) << false;
        QTest::newRow("password 11 families") << requestText(kName, family.repeated(11)) << false;
        QTest::newRow("password 12 families") << requestText(kName, family.repeated(12)) << true;
        QTest::newRow("password 128 flags") << requestText(kName, flag.repeated(128)) << true;
        QTest::newRow("password 129 flags") << requestText(kName, flag.repeated(129)) << false;
        // The size limit counts bytes of the whole input, whatever they hold.
        const QByteArray padded = requestText() + QByteArray(2047 - requestText().size(), ' ');
        QTest::newRow("2047 bytes") << padded << true;
        QTest::newRow("2048 bytes") << padded + ' ' << false;
    }
    void requestRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, accepted);
        FakeDirectoryService directory;
        QCOMPARE(create(directory, input), accepted ? 0 : 1);
        QCOMPARE(directory.asked.isEmpty(), !accepted); // refused before the directory is even opened
    }

    void refusedWhenNotRootOrUnreadable()
    {
        FakeDirectoryService directory;
        QCOMPARE(create(directory, requestText(), 501), 1);
        QCOMPARE(create(directory, std::nullopt), 1);
        QVERIFY(directory.asked.isEmpty());
    }

    // Every failing step, and a name or uid already taken, ends the run with 1 at once.
    void stopsAtTheFirstFailure_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("takenName");
        QTest::addColumn<qint64>("takenUid");
        QTest::addColumn<QString>("last"); // the last step asked for
        for (const QString &step : FakeDirectoryService::kSteps)
            QTest::newRow(qPrintable(step)) << step << QString() << qint64(0) << step;
        QTest::newRow("name taken") << QString() << kName << qint64(0) << u"findUserByName"_s;
        QTest::newRow("uid taken") << QString() << QString() << qint64(501) << u"findUserByUniqueId"_s;
    }
    void stopsAtTheFirstFailure()
    {
        QFETCH(QString, failing);
        QFETCH(QString, takenName);
        QFETCH(qint64, takenUid);
        FakeDirectoryService directory;
        directory.failing = failing;
        directory.users.insert(takenName);
        directory.uids.insert(takenUid);
        QCOMPARE(create(directory, requestText()), 1);
        QTEST(directory.asked.last().first(), "last");
    }
};

QTEST_GUILESS_MAIN(TestRecoveryAdmin)
#include "test_recovery_admin.moc"
