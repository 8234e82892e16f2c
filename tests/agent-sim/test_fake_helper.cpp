#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestFakeHelper : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_file;
    QString m_digest;

    int run(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        QProcess helper;
        helper.setProcessEnvironment(env);
        helper.start(QStringLiteral(FAKE_HELPER_PATH), args);
        if (!helper.waitForFinished(10000))
            return -1;
        return helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_file = m_dir.filePath(u"enrollment.json"_s);
        QFile file(m_file);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray content = "{\"format\":\"pelk-enrollment\"}";
        file.write(content);
        m_digest = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(u"fifo"_s)).constData(), 0600), 0);
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        const QString good = u"--import-enrollment"_s;
        const QString sha = u"--enrollment-sha256"_s;
        QString flipped = m_digest;
        flipped[0] = flipped[0] == u'0' ? u'1' : u'0';
        QTest::newRow("matching digest") << QStringList { good, m_file, sha, m_digest } << 0;
        QTest::newRow("other digest") << QStringList { good, m_file, sha, flipped } << 1;
        QTest::newRow("upper-case digest") << QStringList { good, m_file, sha, m_digest.toUpper() } << 1;
        QTest::newRow("short digest") << QStringList { good, m_file, sha, m_digest.left(63) } << 1;
        QTest::newRow("relative path") << QStringList { good, u"enrollment.json"_s, sha, m_digest } << 1;
        QTest::newRow("missing file") << QStringList { good, m_file + u"x"_s, sha, m_digest } << 1;
        QTest::newRow("fifo") << QStringList { good, m_dir.filePath(u"fifo"_s), sha, m_digest } << 1;
        QTest::newRow("swapped switches") << QStringList { sha, m_file, good, m_digest } << 1;
        QTest::newRow("extra argument") << QStringList { good, m_file, sha, m_digest, u"-v"_s } << 1;
        QTest::newRow("no arguments") << QStringList {} << 1;
    }
    void exitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QCOMPARE(run(args), status);
    }

    void logsWhatItSawAndCanBeForcedToRefuse()
    {
        const QString log = m_dir.filePath(u"helper.log"_s);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"PELK_FAKE_HELPER_LOG"_s, log);
        const QStringList args { u"--import-enrollment"_s, m_file, u"--enrollment-sha256"_s, m_digest };
        QCOMPARE(run(args, env), 0);
        env.insert(u"PELK_FAKE_HELPER_EXIT"_s, u"1"_s);
        QCOMPARE(run(args, env), 1);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // two entries and the final newline
        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(first.value("args"_L1).toVariant().toStringList(), args);
        QCOMPARE(first.value("file_sha256"_L1).toString(), m_digest);
        QCOMPARE(first.value("result"_L1).toInt(), 0);
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value("result"_L1).toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFakeHelper)
#include "test_fake_helper.moc"
