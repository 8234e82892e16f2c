#include "platform/linux/PasswordHash.h"

#include <QTest>

using namespace pelk::platform;

class TestPasswordHash : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip()
    {
        for (const QByteArray &password : { QByteArray("a:b\nroot::0:0:::"), QByteArray(511, 'p') }) {
            const QByteArray first = passwordhash::hash(password).value_or(QByteArray());
            const QByteArray second = passwordhash::hash(password).value_or(QByteArray());
            QVERIFY(first != second); // a fresh salt each time
            QVERIFY(!first.contains(':') && !first.contains('\n')); // one shadow field
            QVERIFY(passwordhash::matches(password, first) && passwordhash::matches(password, second));
            QVERIFY(
                !passwordhash::matches(password.chopped(1), first) && !passwordhash::matches(password + 'x', first));
        }
        // crypt(3) would stop at a NUL, and login can check no passphrase of 512 bytes.
        for (const QByteArray &password : { QByteArray("correct\0horse", 13), QByteArray(512, 'p') })
            QVERIFY(!passwordhash::hashable(password) && !passwordhash::hash(password));
    }

    // Fields that lock an account or hold no hash never accept anything, not even an empty password.
    void lockedHashesAcceptNothing()
    {
        const QByteArray real = passwordhash::hash("correct horse battery").value_or(QByteArray());
        for (const QByteArray &stored : QByteArrayList { {}, "!", "!" + real, real.left(real.lastIndexOf('$') + 1) })
            QVERIFY(!passwordhash::matches("correct horse battery", stored) && !passwordhash::matches({}, stored));
    }
};

QTEST_GUILESS_MAIN(TestPasswordHash)
#include "test_password_hash.moc"
