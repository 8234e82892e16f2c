#include "agent/AgentFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace pelk::agent;
using namespace Qt::StringLiterals;

class TestAgentFile : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void write(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private Q_SLOTS:
    void sizeCap()
    {
        write(path("empty.json"), QByteArray());
        QCOMPARE(readAgentFile(path("empty.json")), std::optional<QByteArray>(QByteArray()));
        write(path("cap.json"), QByteArray(100, 'x'));
        QCOMPARE(readAgentFile(path("cap.json"), 100), std::optional<QByteArray>(QByteArray(100, 'x')));
        QVERIFY(!readAgentFile(path("cap.json"), 99));
        write(path("big.json"), QByteArray(1024 * 1024 + 1, ' '));
        QVERIFY(!readAgentFile(path("big.json")));
    }

    void notARegularFile()
    {
        QVERIFY(!readAgentFile(path("missing.json")));
        QVERIFY(!readAgentFile(m_dir.path()));
        // A FIFO with no writer must not block the caller.
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
        QVERIFY(!readAgentFile(path("fifo")));
        QVERIFY(QFile::link(u"/dev/zero"_s, path("zero.json")));
        QVERIFY(!readAgentFile(path("zero.json")));
        QVERIFY(QFile::link(path("a.json"), path("link.json")));
        write(path("a.json"), "ok");
        QCOMPARE(readAgentFile(path("link.json")), std::optional<QByteArray>("ok"));
    }
};

QTEST_GUILESS_MAIN(TestAgentFile)
#include "test_agent_file.moc"
