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

QByteArray request(const QByteArray &password, const QByteArray &uid = "501")
{
    return requestText(kName, password, uid);
}

// The whole mode, as root, against the tree instead of this machine.
int createIn(const ThrowawayRoot &tree, const QByteArray &input)
{
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

struct Owner {
    uint uid = 0;
    uint gid = 0;
    uint mode = 0;
    bool operator==(const Owner &) const = default;
};

Owner ownerOf(const QString &path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return { 0, 0, 0 };
    return { st.st_uid, st.st_gid, uint(st.st_mode & 07777) };
}

} // namespace

class TestShadowDirectory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (::geteuid() != 0)
            QSKIP("creating accounts, even in a throwaway tree, needs root");
        if (!QFileInfo(u"/usr/sbin/useradd"_s).isExecutable())
            QSKIP("shadow-utils are not installed");
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

        QCOMPARE(createIn(tree, request(password)), 0);

        QCOMPARE(tree.line("etc/passwd", kName), hasZsh ? kPasswdLine.chopped(4) + "zsh" : kPasswdLine);
        QVERIFY(passwordIsSet(tree, password));
        QVERIFY(!passwordIsSet(tree, password + 'x'));
        QCOMPARE(tree.line("etc/shadow", "root"), rootShadow);
        QCOMPARE(tree.read("etc/shadow").count('\n'), 2);
        QCOMPARE(tree.line("etc/group", adminGroup), adminGroup + ":x:27:" + kName);
        QCOMPARE(tree.line("etc/gshadow", adminGroup), adminGroup + ":*::" + kName);

        const QString home = tree.path("home/pelk-r-0123456789ab");
        QCOMPARE(ownerOf(home), (Owner { 501, 100, 0700 }));
        QCOMPARE(ownerOf(home + "/.profile"_L1), (Owner { 501, 100, 0644 }));
        QCOMPARE(ownerOf(home + "/.config/app/settings"_L1), (Owner { 501, 100, 0640 }));
        QCOMPARE(ownerOf(home + "/.config/app"_L1).uid, 501u);
        QCOMPARE(QFileInfo(home + "/.config/profile-link"_L1).symLinkTarget(), home + "/.profile"_L1);
        QCOMPARE(ownerOf(home + "/.config/profile-link"_L1).uid, 501u);
        QFile profile(home + "/.profile"_L1);
        QVERIFY(profile.open(QIODevice::ReadOnly));
        QCOMPARE(profile.readAll(), tree.read("etc/skel/.profile"));

        // Nothing reached this machine's own accounts.
        QFile hostPasswd(u"/etc/passwd"_s);
        QVERIFY(hostPasswd.open(QIODevice::ReadOnly));
        QVERIFY(!hostPasswd.readAll().contains(kName));
    }

    void refusesWithoutChangingAnything_data()
    {
        QTest::addColumn<QByteArray>("existing"); // "-shadow": the shadow file is missing
        QTest::addColumn<QByteArray>("uid");
        QTest::addColumn<QByteArray>("password");
        const QByteArray good = kGood;
        QTest::newRow("name taken") << QByteArray("pelk-r-0123456789ab:x:600:100::/home/x:/bin/sh") << QByteArray("501")
                                    << good;
        QTest::newRow("uid taken") << QByteArray("pelk-r-aaaaaaaaaaaa:x:501:100::/home/y:/bin/sh") << QByteArray("501")
                                   << good;
        QTest::newRow("uid beyond 32 bits") << QByteArray() << QByteArray("4294967296") << good;
        // crypt(3) would stop at the NUL and store a shorter password than the one asked for.
        QTest::newRow("NUL in the password")
            << QByteArray() << QByteArray("501") << QByteArray("correct\0horse battery", 21);
        // 128 characters, but 512 bytes: beyond what crypt(3), and so login, can check.
        QTest::newRow("128 emoji") << QByteArray() << QByteArray("501") << QByteArray("\xF0\x9F\x98\x80").repeated(128);
        QTest::newRow("no shadow file") << QByteArray("-shadow") << QByteArray("501") << good;
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
        QCOMPARE(createIn(tree, request(password, uid)), 1);
        QCOMPARE(tree.accounts(), before);
        QVERIFY(!QFileInfo::exists(tree.path("home/pelk-r-0123456789ab")));
    }

    // A failure after the account was created leaves it as it stands.
    void lateFailureKeepsTheAccount_data()
    {
        QTest::addColumn<QByteArray>("adminGroup");
        QTest::addColumn<bool>("homeIsAFile");
        QTest::newRow("no administrators group") << QByteArray() << false;
        QTest::newRow("home cannot be made") << QByteArray("sudo") << true;
    }
    void lateFailureKeepsTheAccount()
    {
        QFETCH(QByteArray, adminGroup);
        QFETCH(bool, homeIsAFile);
        const QByteArray password = kGood;
        const ThrowawayRoot tree(adminGroup);
        if (homeIsAFile) {
            QVERIFY(QDir(tree.path("home")).removeRecursively());
            tree.write("home", "not a directory");
        }
        QCOMPARE(createIn(tree, request(password)), 1);
        QCOMPARE(tree.line("etc/passwd", kName), kPasswdLine);
        QVERIFY(passwordIsSet(tree, password));
        QCOMPARE(tree.line("etc/group", "sudo").endsWith(kName), !adminGroup.isEmpty());
        QVERIFY(!QFileInfo(tree.path("home/pelk-r-0123456789ab")).isDir());
        QCOMPARE(createIn(tree, request(password)), 1); // the remnant blocks a second attempt
    }

    void existingHomeIsNotTakenOver()
    {
        const ThrowawayRoot tree;
        tree.write("home/pelk-r-0123456789ab/secret", "someone else's");
        QCOMPARE(createIn(tree, request(kGood)), 1);
        QCOMPARE(ownerOf(tree.path("home/pelk-r-0123456789ab/secret")).uid, 0u);
        QVERIFY(passwordIsSet(tree, kGood));
    }
};

QTEST_GUILESS_MAIN(TestShadowDirectory)
#include "test_shadow_directory.moc"
