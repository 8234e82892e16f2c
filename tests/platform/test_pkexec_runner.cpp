#include "agent/EnrollmentImport.h"
#include "platform/linux/PkexecRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk;
using namespace pelk::platform;
using namespace Qt::StringLiterals;
using Outcome = PrivilegedRunner::Outcome;

Q_DECLARE_METATYPE(pelk::platform::PrivilegedRunner::Outcome)

// pkexec is replaced by scripts that behave like it (it execs the program when authorized, and
// exits 126 or 127 itself otherwise).
class TestPkexecRunner : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The path of a shell script with that body, or of nothing when the body is empty.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!body.isEmpty() && f.open(QIODevice::WriteOnly) && f.write("#!/bin/sh\n" + body + '\n') > 0)
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private Q_SLOTS:
    // pkexec gets the helper's path first, then exactly its four arguments whatever the copy's
    // name holds (no shell in between), and nothing in them runs.
    void helperGetsExactlyItsArguments()
    {
        const QString dir = u"dir 'x' $(touch CANARY) `touch CANARY`\nend"_s;
        const QString helper = script(dir + u"/helper"_s, "printf '%s\\0' \"$@\" > \"$(dirname \"$0\")/args\"");
        PkexecRunner runner(script(u"pkexec"_s, "exec \"$@\""));
        const QString digest = agent::sha256Hex("{}");
        for (const QString &copy : { u"it's a b  c"_s, u"$(touch CANARY) `touch CANARY`"_s, u"line\nbreak\n"_s, u"*"_s,
                 u"-n"_s, QString(), u"caf\u00e9 \u65e5\u672c"_s }) {
            QCOMPARE(runner.run(helper, agent::helperArguments(copy, digest)), Outcome::Succeeded);
            QFile args(m_dir.filePath(dir + u"/args"_s));
            QVERIFY(args.open(QIODevice::ReadOnly));
            QCOMPARE(args.readAll(),
                "--import-enrollment\0"_ba + copy.toUtf8() + "\0--enrollment-sha256\0"_ba + digest.toLatin1() + '\0');
        }
        QVERIFY(!QFile::exists(m_dir.filePath(u"CANARY"_s)) && !QFile::exists(QDir::current().filePath(u"CANARY"_s)));
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("pkexec"); // empty: no pkexec at all
        QTest::addColumn<QByteArray>("helper");
        QTest::addColumn<Outcome>("outcome");
        const QByteArray authorized = "exec \"$@\"", ok = "exit 0";
        QTest::newRow("helper accepts") << authorized << ok << Outcome::Succeeded;
        QTest::newRow("helper exits 1") << authorized << QByteArray("exit 1") << Outcome::Failed;
        QTest::newRow("helper exits 127") << authorized << QByteArray("exit 127") << Outcome::Failed;
        QTest::newRow("helper killed") << authorized << QByteArray("kill -9 $$") << Outcome::Failed;
        QTest::newRow("prompt dismissed") << QByteArray("exit 126") << ok << Outcome::Cancelled;
        QTest::newRow("not authorized") << QByteArray("exit 127") << ok << Outcome::Failed;
        QTest::newRow("pkexec missing") << QByteArray() << ok << Outcome::Failed;
    }
    void outcomes()
    {
        QFETCH(QByteArray, pkexec);
        QFETCH(QByteArray, helper);
        const QString path = script(u"helper"_s, helper);
        PkexecRunner runner(script(u"pkexec"_s, pkexec));
        QTEST(runner.run(path, agent::helperArguments(m_dir.filePath(u"copy.json"_s), u"00"_s)), "outcome");
    }
};

QTEST_GUILESS_MAIN(TestPkexecRunner)
#include "test_pkexec_runner.moc"
