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
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        f.write("#!/bin/sh\n" + body + '\n');
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | extra);
        return path;
    }
    QString fakePkexec() { return script(u"pkexec"_s, "exec \"$@\""); }

    static QStringList adversarial()
    {
        return { u"plain"_s, u"it's"_s, u"'"_s, u"''"_s, u"a b  c"_s, u"$(touch CANARY)"_s, u"`touch CANARY`"_s,
            u"line\nbreak"_s, u"trailing newline\n"_s, u"back\\slash"_s, u"\"double\""_s, u"*"_s, u"~"_s, u"-n"_s,
            QString(), u"; touch CANARY #"_s, u"$HOME ${PATH}"_s, u"tab\there"_s, u"caf\u00e9 \u65e5\u672c"_s,
            u"'\\''"_s, u"!"_s, u"a'b\"c$d`e\\f"_s };
    }
    bool canaryTouched() const
    {
        return QFile::exists(m_dir.filePath(u"CANARY"_s)) || QFile::exists(QDir::current().filePath(u"CANARY"_s));
    }

private Q_SLOTS:
    void shellQuoteSurvivesTheShell()
    {
        PkexecRunner runner(fakePkexec());
        const QString out = m_dir.filePath(u"out"_s);
        for (const QString &text : adversarial()) {
            const QString command = u"cd "_s + agent::shellQuote(m_dir.path()) + u" && printf '%s' "_s
                + agent::shellQuote(text) + u" > "_s + agent::shellQuote(out);
            QCOMPARE(runner.run(command), Outcome::Succeeded);
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(f.readAll()), text);
        }
        QVERIFY(!canaryTouched());
    }

    void helperGetsExactlyFourArguments()
    {
        // The helper itself sits in a directory whose name is hostile too.
        const QString hostile = u"dir 'x' $(touch CANARY) `touch CANARY`\nend"_s;
        QVERIFY(QDir(m_dir.path()).mkpath(hostile));
        const QString helper = m_dir.filePath(hostile + u"/helper"_s);
        {
            QFile f(helper);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$(dirname \"$0\")/args\"\n");
            f.close();
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        const QString copy = m_dir.filePath(u"pelk-enrollment-it's $(x).json"_s);
        const QString digest = agent::sha256Hex("{}");
        PkexecRunner runner(fakePkexec());
        QCOMPARE(runner.run(agent::helperCommandLine(helper, copy, digest)), Outcome::Succeeded);

        QFile args(m_dir.filePath(hostile + u"/args"_s));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QList<QByteArray> parts = args.readAll().split('\0');
        QCOMPARE(parts.takeLast(), QByteArray());
        QCOMPARE(parts,
            QList<QByteArray>(
                { "--import-enrollment", QFile::encodeName(copy), "--enrollment-sha256", digest.toLatin1() }));
        QVERIFY(!canaryTouched());
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
