// The agent's directory watched as the agent uses it: files replaced by rename, often with the
// same bytes, and the whole directory removed and made again when the agent is reinstalled.

#include "boundary/AgentDirectoryWatcher.h"

#include <QDir>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestDirectoryWatcher : public QObject {
    Q_OBJECT

    static void replace(const QString &path, const QByteArray &bytes)
    {
        QSaveFile file(path); // written beside it, then renamed over it
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit());
    }

private Q_SLOTS:
    void followsChangedBytesAndAComingBackDirectory()
    {
        QTemporaryDir root;
        const QString dir = root.filePath(u"agent"_s), lock = dir + u"/agent-lock.json"_s;
        QVERIFY(QDir().mkpath(dir));
        replace(lock, "1");
        pelk::boundary::AgentDirectoryWatcher watcher(dir);
        int lockChanges = 0, otherChanges = 0;
        watcher.follow(lock, [&] { ++lockChanges; });
        watcher.follow(dir + u"/agent-status.json"_s, [&] { ++otherChanges; });
        replace(lock, "1"); // the same bytes again
        QTest::qWait(200); // what must not happen has no event to wait for
        QCOMPARE(lockChanges, 0);
        replace(lock, "2");
        QTRY_COMPARE(lockChanges, 1);

        QVERIFY(QDir(dir).removeRecursively());
        QTRY_COMPARE(lockChanges, 2); // gone
        QVERIFY(QDir().mkpath(dir));
        replace(lock, "3");
        QTRY_COMPARE_WITH_TIMEOUT(lockChanges, 3, 3000); // watched again
        replace(lock, "4");
        QTRY_COMPARE(lockChanges, 4);
        QCOMPARE(otherChanges, 0);
    }
};

QTEST_GUILESS_MAIN(TestDirectoryWatcher)
#include "test_directory_watcher.moc"
