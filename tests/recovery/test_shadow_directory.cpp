#include "platform/linux/PasswordHash.h"
#include "platform/linux/ShadowDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"
#include "recovery/RequestText.h"
#include "recovery/ThrowawayRoot.h"

#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace pelk;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kName = "pelk-r-0123456789ab";
const QByteArray kPasswdLine
    = "pelk-r-0123456789ab:x:501:100:Pelk Recovery Administrator:/home/pelk-r-0123456789ab:/bin/bash";
const QByteArray kGood = "correct horse battery";

// The whole mode, as root, against the tree instead of this machine.
int createIn(const ThrowawayRoot &tree, const QByteArray &password, const QByteArray &uid = "501")
{
    const QByteArray input = requestText(QString::fromUtf8(kName), QString::fromUtf8(password), uid);
    platform::ShadowDirectoryService directory(tree.root());
    recovery::RecoveryAdminCreator creator(
        [input](qsizetype) { return std::optional(input); }, [] { return 0u; }, directory);
    return creator.run();
}

bool passwordIsSet(const ThrowawayRoot &tree, const QByteArray &password)
{
    const QList<QByteArray> fields = tree.line("etc/shadow", kName).split(':');
    return fields.size() > 1 && platform::passwordhash::matches(password, fields[1]);
}

// "uid:gid:mode" of a path, not following a link.
QString ownerOf(const QString &path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return u"%1:%2:%3"_s.arg(st.st_uid).arg(st.st_gid).arg(st.st_mode & 07777, 0, 8);
}

} // namespace

class TestShadowDirectory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (::geteuid() != 0 || !QFileInfo(u"/usr/sbin/useradd"_s).isExecutable())
            QSKIP("creating accounts, even in a throwaway tree, needs root and shadow-utils");
    }

    // The shell is zsh where the tree has one, and the administrators group is the tree's own.
    void createsTheAccount_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("adminGroup");
        QTest::addColumn<bool>("hasZsh");
        // A line-based tool fed "name:password" would read the rest as a record for root.
        QTest::newRow("newline and colon")
            << QByteArray("x:y\nroot:$1$evil$evil:1:0:99999:7:::") << QByteArray("sudo") << false;
        QTest::newRow("127 emoji, 508 bytes, wheel, zsh")
            << QByteArray("\xF0\x9F\x98\x80").repeated(127) << QByteArray("wheel") << true;
        QTest::newRow("128 characters") << QByteArray("Ab1:").repeated(32) << QByteArray("sudo") << false;
    }
    void createsTheAccount()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, adminGroup);
        QFETCH(bool, hasZsh);
        const ThrowawayRoot tree(adminGroup);
        if (hasZsh)
            tree.write("bin/zsh", "", 0755);
        const QByteArray rootShadow = tree.line("etc/shadow", "root");

        QCOMPARE(createIn(tree, password), 0);
        QCOMPARE(tree.line("etc/passwd", kName), hasZsh ? kPasswdLine.chopped(4) + "zsh" : kPasswdLine);
        QVERIFY(passwordIsSet(tree, password) && !passwordIsSet(tree, password + 'x'));
        QCOMPARE(tree.line("etc/shadow", "root"), rootShadow);
        QCOMPARE(tree.read("etc/shadow").count('\n'), 2);
        QCOMPARE(tree.line("etc/group", adminGroup), adminGroup + ":x:27:" + kName);
        QCOMPARE(tree.line("etc/gshadow", adminGroup), adminGroup + ":*::" + kName);

        // A private home with a copy of the tree's skeleton, all of it the account's own.
        const QString home = tree.path("home/pelk-r-0123456789ab") + u'/';
        QCOMPARE(ownerOf(home), u"501:100:700"_s);
        QCOMPARE(ownerOf(home + ".config/app/settings"_L1), u"501:100:640"_s);
        for (const char *path : { ".profile", ".config/app", ".config/profile-link" })
            QVERIFY(ownerOf(home + QLatin1StringView(path)).startsWith("501:100:"_L1));
        QCOMPARE(QFileInfo(home + ".config/profile-link"_L1).symLinkTarget(), home + ".profile"_L1);
        QFile profile(home + ".profile"_L1);
        QVERIFY(profile.open(QIODevice::ReadOnly) && profile.readAll() == tree.read("etc/skel/.profile"));
        QFile hostPasswd(u"/etc/passwd"_s); // nothing reached this machine's own accounts
        QVERIFY(hostPasswd.open(QIODevice::ReadOnly) && !hostPasswd.readAll().contains(kName));
    }

    void refusesWithoutChangingAnything_data()
    {
        QTest::addColumn<QByteArray>("existing"); // "-shadow": the shadow file is missing
        QTest::addColumn<QByteArray>("uid");
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("name taken") << QByteArray("pelk-r-0123456789ab:x:600:100::/home/x:/bin/sh") << QByteArray("501")
                                    << kGood;
        QTest::newRow("uid taken") << QByteArray("pelk-r-aaaaaaaaaaaa:x:501:100::/home/y:/bin/sh") << QByteArray("501")
                                   << kGood;
        QTest::newRow("uid beyond 32 bits") << QByteArray() << QByteArray("4294967296") << kGood;
        QTest::newRow("NUL in the password") << QByteArray() << QByteArray("501") << QByteArray("correct\0horse", 13);
        // 128 characters, but 512 bytes: beyond what crypt(3), and so login, can check.
        QTest::newRow("128 emoji") << QByteArray() << QByteArray("501") << QByteArray("\xF0\x9F\x98\x80").repeated(128);
        QTest::newRow("no shadow file") << QByteArray("-shadow") << QByteArray("501") << kGood;
    }
    void refusesWithoutChangingAnything()
    {
        QFETCH(QByteArray, existing);
        QFETCH(QByteArray, uid);
        QFETCH(QByteArray, password);
        const ThrowawayRoot tree;
        if (existing == "-shadow")
            QVERIFY(QFile::remove(tree.path("etc/shadow")));
        else if (!existing.isEmpty())
            tree.write("etc/passwd", tree.read("etc/passwd") + existing + '\n');
        const QByteArray before = tree.accounts();
        QCOMPARE(createIn(tree, password, uid), 1);
        QCOMPARE(tree.accounts(), before);
        QVERIFY(!QFileInfo::exists(tree.path("home/pelk-r-0123456789ab")));
    }

    // A failure after the account was made leaves it as it stands, and blocks a second attempt.
    void lateFailureKeepsTheAccount_data()
    {
        QTest::addColumn<QByteArray>("adminGroup");
        QTest::addColumn<QByteArray>("home"); // what stands where the home would go
        QTest::newRow("no administrators group") << QByteArray() << QByteArray();
        QTest::newRow("home cannot be made") << QByteArray("sudo") << QByteArray("home");
        QTest::newRow("home exists") << QByteArray("sudo") << QByteArray("home/pelk-r-0123456789ab/secret");
    }
    void lateFailureKeepsTheAccount()
    {
        QFETCH(QByteArray, adminGroup);
        QFETCH(QByteArray, home);
        const ThrowawayRoot tree(adminGroup);
        if (!home.isEmpty()) {
            QVERIFY(QDir(tree.path("home")).removeRecursively());
            tree.write(home.constData(), "someone else's");
        }
        QCOMPARE(createIn(tree, kGood), 1);
        QCOMPARE(tree.line("etc/passwd", kName), kPasswdLine);
        QVERIFY(passwordIsSet(tree, kGood));
        QCOMPARE(tree.line("etc/group", "sudo").endsWith(kName), !adminGroup.isEmpty());
        // No home was made, and what stood there is not taken over.
        const char *where = home.isEmpty() ? "home/pelk-r-0123456789ab" : home.constData();
        QCOMPARE(ownerOf(tree.path(where)), home.isEmpty() ? QString() : u"0:0:644"_s);
        QCOMPARE(createIn(tree, kGood), 1);
    }
};

QTEST_GUILESS_MAIN(TestShadowDirectory)
#include "test_shadow_directory.moc"
