#include "agent/Timestamp.h"

#include <QTest>

using namespace pelk::agent;
using namespace Qt::StringLiterals;

namespace {
QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}
} // namespace

class TestTimestamp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("instant");
        QTest::newRow("Z") << u"2026-03-04T05:06:07Z"_s << utc(2026, 3, 4, 5, 6, 7);
        QTest::newRow("offset is an hour earlier") << u"2026-03-04T05:06:07+01:00"_s << utc(2026, 3, 4, 4, 6, 7);
        QTest::newRow("negative offset") << u"2026-03-04T23:30:00-02:30"_s << utc(2026, 3, 5, 2, 0, 0);
        QTest::newRow("one fraction digit") << u"2026-03-04T05:06:07.5Z"_s << utc(2026, 3, 4, 5, 6, 7, 500);
        QTest::newRow("microseconds truncated") << u"2026-03-04T05:06:07.123987Z"_s << utc(2026, 3, 4, 5, 6, 7, 123);
        QTest::newRow("crosses the year") << u"2026-12-31T23:59:59-00:01"_s << utc(2027, 1, 1, 0, 0, 59);
    }
    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, instant);
        const auto parsed = timestamp(text);
        QVERIFY(parsed);
        QCOMPARE(parsed->toMSecsSinceEpoch(), instant.toMSecsSinceEpoch());
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("no zone") << u"2026-03-04T05:06:07"_s;
        QTest::newRow("lower-case t") << u"2026-03-04t05:06:07Z"_s;
        QTest::newRow("offset without colon") << u"2026-03-04T05:06:07+0100"_s;
        QTest::newRow("empty fraction") << u"2026-03-04T05:06:07.Z"_s;
        QTest::newRow("February 29 of a common year") << u"2026-02-29T05:06:07Z"_s;
        QTest::newRow("second 60") << u"2026-03-04T05:06:60Z"_s;
        QTest::newRow("offset minutes 60") << u"2026-03-04T05:06:07+01:60"_s;
        QTest::newRow("trailing text") << u"2026-03-04T05:06:07Zjunk"_s;
        QTest::newRow("Arabic-Indic digits") << u"\u0662\u0660\u0662\u0666-03-04T05:06:07Z"_s;
    }
    void rejected()
    {
        QFETCH(QString, text);
        QVERIFY(!timestamp(text));
    }
};

QTEST_GUILESS_MAIN(TestTimestamp)
#include "test_timestamp.moc"
