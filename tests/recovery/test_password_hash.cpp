#include "platform/linux/PasswordHash.h"

#include <QTest>

using namespace pelk::platform;

class TestPasswordHash : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("newline and colon") << QByteArray("a:b\nroot::0:0:::");
        QTest::newRow("511 bytes") << QByteArray(511, 'p');
    }
    void roundTrip()
    {
        QFETCH(QByteArray, password);
        const std::optional<QByteArray> first = passwordhash::hash(password);
        const std::optional<QByteArray> second = passwordhash::hash(password);
        QVERIFY(first && second);
        QVERIFY(*first != *second); // a fresh salt each time
        QVERIFY(!first->contains(':') && !first->contains('\n'));
        QVERIFY(passwordhash::matches(password, *first));
        QVERIFY(passwordhash::matches(password, *second));
        QVERIFY(!passwordhash::matches(password.chopped(1), *first));
        QVERIFY(!passwordhash::matches(password + 'x', *first));
    }

    void unhashable_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("NUL inside") << QByteArray("correct\0horse", 13);
        QTest::newRow("512 bytes") << QByteArray(512, 'p');
    }
    void unhashable()
    {
        QFETCH(QByteArray, password);
        QVERIFY(!passwordhash::hashable(password));
        QVERIFY(!passwordhash::hash(password));
    }

    // Fields that lock an account or hold no hash never accept anything, not even an empty password.
    void lockedHashesAcceptNothing_data()
    {
        QTest::addColumn<QByteArray>("stored");
        const QByteArray real = passwordhash::hash("correct horse battery").value_or(QByteArray());
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("locked") << QByteArray("!");
        QTest::newRow("locked real hash") << "!" + real;
        QTest::newRow("cut real hash") << real.left(real.lastIndexOf('$') + 1);
    }
    void lockedHashesAcceptNothing()
    {
        QFETCH(QByteArray, stored);
        QVERIFY(!passwordhash::matches("correct horse battery", stored));
        QVERIFY(!passwordhash::matches(QByteArray(), stored));
    }
};

QTEST_GUILESS_MAIN(TestPasswordHash)
#include "test_password_hash.moc"
