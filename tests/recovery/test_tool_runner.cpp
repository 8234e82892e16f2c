#include "platform/linux/ToolRunner.h"

#include <QTest>

using namespace pelk::platform;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<int>)

class TestToolRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("PELK_SECRET_IN_PARENT", "leak"); }

    void run_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<std::optional<int>>("status");

        const QString sh = u"/bin/sh"_s;
        QTest::newRow("exit status") << sh << QStringList { u"-c"_s, u"exit 3"_s } << QByteArray() << std::optional(3);
        QTest::newRow("input arrives") << sh << QStringList { u"-c"_s, u"read l; test \"$l\" = a:b"_s }
                                       << QByteArray("a:b\n") << std::optional(0);
        QTest::newRow("clean environment")
            << sh
            << QStringList { u"-c"_s,
                   u"test -z \"$HOME$PELK_SECRET_IN_PARENT\" && test \"$PATH\" = /usr/sbin:/usr/bin:/sbin:/bin"_s }
            << QByteArray() << std::optional(0);
        QTest::newRow("arguments verbatim")
            << sh << QStringList { u"-c"_s, u"test \"$1\" = 'a b;$(x)'"_s, u"sh"_s, u"a b;$(x)"_s } << QByteArray()
            << std::optional(0);
        // Far more than a socket buffer holds: the tool reads while it is still being written.
        QTest::newRow("input larger than a buffer") << sh << QStringList { u"-c"_s, u"test \"$(wc -c)\" = 4194304"_s }
                                                    << QByteArray(4 * 1024 * 1024, 'x') << std::optional(0);
        QTest::newRow("input the tool never reads")
            << sh << QStringList { u"-c"_s, u"exit 0"_s } << QByteArray(4 * 1024 * 1024, 'x') << std::optional(0);
        QTest::newRow("no such program") << u"/nonexistent/tool"_s << QStringList() << QByteArray()
                                         << std::optional<int>();
        QTest::newRow("killed by a signal")
            << sh << QStringList { u"-c"_s, u"kill -9 $$"_s } << QByteArray() << std::optional<int>();
        QTest::newRow("out of time") << sh << QStringList { u"-c"_s, u"sleep 600 & wait"_s } << QByteArray()
                                     << std::optional<int>();
    }
    void run()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(std::optional<int>, status);
        // Only the tool that never ends may run out of time, however loaded the machine is.
        const auto timeout
            = QLatin1StringView(QTest::currentDataTag()) == "out of time"_L1 ? 300ms : ToolRunner::kDefaultTimeout;
        QCOMPARE(ToolRunner(timeout).run(program, arguments, input), status);
    }
};

QTEST_GUILESS_MAIN(TestToolRunner)
#include "test_tool_runner.moc"
