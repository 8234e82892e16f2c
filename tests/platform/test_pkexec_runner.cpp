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

// Every run goes through a real /bin/sh; pkexec is replaced by scripts that behave like it
// (it execs the program when authorized, and exits 126 or 127 itself otherwise).
class TestPkexecRunner : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString script(const QString &name, const QByteArray &body, QFile::Permissions extra = QFile::ExeOwner)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        f.write("#!/bin/sh\n" + body + '\n');
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | extra);
        return path;
    }

private Q_SLOTS:
    // The helper, in a directory whose name is hostile too, gets exactly its four arguments
    // whatever the copy's name holds, and nothing in them runs.
    void helperGetsExactlyItsArguments()
    {
        const QString dir = u"dir 'x' $(touch CANARY) `touch CANARY`\nend"_s;
        const QString helper = script(dir + u"/helper"_s, "printf '%s\\0' \"$@\" > \"$(dirname \"$0\")/args\"");
        PkexecRunner runner(script(u"pkexec"_s, "exec \"$@\""));
        const QString digest = agent::sha256Hex("{}");
        for (const QString &copy : { u"it's"_s, u"''"_s, u"a b  c"_s, u"$(touch CANARY)"_s, u"`touch CANARY`"_s,
                 u"line\nbreak\n"_s, u"back\\slash"_s, u"*"_s, u"~"_s, u"-n"_s, QString(), u"; touch CANARY #"_s,
                 u"$HOME ${PATH}"_s, u"tab\there"_s, u"caf\u00e9 \u65e5\u672c"_s, u"'\\''"_s, u"a'b\"c$d`e\\f"_s }) {
            QCOMPARE(runner.run(agent::helperCommandLine(helper, copy, digest)), Outcome::Succeeded);
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
        QTest::addColumn<QByteArray>("helper"); // empty: no helper file
        QTest::addColumn<bool>("helperExecutable");
        QTest::addColumn<Outcome>("outcome");
        const QByteArray authorized = "exec \"$@\"";
        QTest::newRow("helper accepts") << authorized << QByteArray("exit 0") << true << Outcome::Succeeded;
        QTest::newRow("helper exits 126") << authorized << QByteArray("exit 126") << true << Outcome::Failed;
        QTest::newRow("helper exits 127") << authorized << QByteArray("exit 127") << true << Outcome::Failed;
        QTest::newRow("helper killed") << authorized << QByteArray("kill -9 $$") << true << Outcome::Failed;
        QTest::newRow("helper missing (shell 127)") << authorized << QByteArray() << true << Outcome::Failed;
        QTest::newRow("helper not executable (shell 126)")
            << authorized << QByteArray("exit 0") << false << Outcome::Failed;
        QTest::newRow("prompt dismissed")
            << QByteArray("exit 126") << QByteArray("exit 0") << true << Outcome::Cancelled;
        QTest::newRow("not authorized") << QByteArray("exit 127") << QByteArray("exit 0") << true << Outcome::Failed;
        QTest::newRow("pkexec missing") << QByteArray() << QByteArray("exit 0") << true << Outcome::Failed;
    }
    void outcomes()
    {
        QFETCH(QByteArray, pkexec);
        QFETCH(QByteArray, helper);
        QFETCH(bool, helperExecutable);
        QFile::remove(m_dir.filePath(u"helper"_s));
        const QString helperPath = helper.isEmpty()
            ? m_dir.filePath(u"helper"_s)
            : script(u"helper"_s, helper, helperExecutable ? QFile::ExeOwner : QFile::Permissions());
        const QString pkexecPath = pkexec.isEmpty() ? m_dir.filePath(u"no-pkexec"_s) : script(u"pkexec"_s, pkexec);
        PkexecRunner runner(pkexecPath);
        QTEST(runner.run(agent::helperCommandLine(helperPath, m_dir.filePath(u"copy.json"_s), u"00"_s)), "outcome");
    }
};

QTEST_GUILESS_MAIN(TestPkexecRunner)
#include "test_pkexec_runner.moc"
