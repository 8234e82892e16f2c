#include "platform/linux/ToolRunner.h"

#include <QTest>

using namespace pelk::platform;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<int>)

// Each row runs /bin/sh -c SCRIPT sh ARGUMENT (a missing program when SCRIPT is empty).
class TestToolRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("PELK_SECRET_IN_PARENT", "leak"); }

    void run_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<std::optional<int>>("status");
        const QByteArray large(4 * 1024 * 1024, 'x'); // far more than a pipe holds
        QTest::newRow("exit status") << u"exit 3"_s << QByteArray() << std::optional(3);
        QTest::newRow("input arrives") << u"read l; test \"$l\" = a:b"_s << QByteArray("a:b\n") << std::optional(0);
        QTest::newRow("clean environment")
            << u"test -z \"$HOME$PELK_SECRET_IN_PARENT\" && test \"$PATH\" = /usr/sbin:/usr/bin:/sbin:/bin"_s
            << QByteArray() << std::optional(0);
        QTest::newRow("argument verbatim") << u"test \"$1\" = 'a b;$(x)'"_s << QByteArray() << std::optional(0);
        QTest::newRow("input larger than a buffer") << u"test \"$(wc -c)\" = 4194304"_s << large << std::optional(0);
        QTest::newRow("input the tool never reads") << u"exit 0"_s << large << std::optional(0);
        QTest::newRow("no such program") << QString() << QByteArray() << std::optional<int>();
        QTest::newRow("killed by a signal") << u"kill -9 $$"_s << QByteArray() << std::optional<int>();
        QTest::newRow("out of time") << u"sleep 600 & wait"_s << QByteArray() << std::optional<int>();
    }
    void run()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, input);
        // Only the tool that never ends may run out of time, however loaded the machine is.
        const auto timeout = script.startsWith("sleep"_L1) ? 300ms : ToolRunner::kDefaultTimeout;
        const QString program = script.isEmpty() ? u"/nonexistent/tool"_s : u"/bin/sh"_s;
        QTEST(ToolRunner(timeout).run(program, { u"-c"_s, script, u"sh"_s, u"a b;$(x)"_s }, input), "status");
    }
};

QTEST_GUILESS_MAIN(TestToolRunner)
#include "test_tool_runner.moc"
