#include "platform/linux/PasswordHash.h"
#include "platform/linux/ShadowDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"
#include "recovery/RequestText.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace pelk;
using namespace Qt::StringLiterals;

// A minimal system tree for shadow-utils to work on instead of this machine's own accounts.
class ThrowawayRoot {
public:
    explicit ThrowawayRoot(const QByteArray &adminGroup = "sudo")
    {
        const QByteArray admin = adminGroup.isEmpty() ? QByteArray() : adminGroup + ":x:27:\n";
        write("etc/passwd", "root:x:0:0:root:/root:/bin/bash\n");
        write("etc/shadow", "root:$6$fixedsalt$rootshash:19000:0:99999:7:::\n", 0600);
        write("etc/group", "root:x:0:\n" + admin + "users:x:100:\n");
        write("etc/gshadow", "root:*::\n" + QByteArray(admin).replace(":x:27:", ":*::") + "users:*::\n", 0600);
        write("etc/login.defs", "UID_MIN 1000\nUID_MAX 60000\nGID_MIN 1000\nGID_MAX 60000\nUMASK 022\n");
        write("etc/skel/.profile", "# the tree's own profile\n");
        write("etc/skel/.config/app/settings", "tree=yes\n", 0640);
        QFile::link(QStringLiteral("../.profile"), path("etc/skel/.config/profile-link"));
        write("bin/bash", "", 0755);
        write("bin/sh", "", 0755);
        QDir(m_dir.path()).mkpath(QStringLiteral("home"));
    }

    QString root() const { return m_dir.path(); }
    QString path(const char *relative) const { return m_dir.path() + u'/' + QLatin1StringView(relative); }

    void write(const char *relative, const QByteArray &bytes, int mode = 0644) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile f(path(relative));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
        f.close();
        ::chmod(QFile::encodeName(path(relative)).constData(), mode_t(mode));
    }

    QByteArray read(const char *relative) const
    {
        QFile f(path(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The line of the named entry in an account file, without its newline; empty when absent.
    QByteArray line(const char *relative, const QByteArray &name) const
    {
        for (const QByteArray &l : read(relative).split('\n')) {
            if (l.startsWith(QByteArray(name + ':')))
                return l;
        }
        return {};
    }

    // The four account files, to compare before and after a run.
    QByteArray accounts() const
    {
        return read("etc/passwd") + read("etc/shadow") + read("etc/group") + read("etc/gshadow");
    }

private:
    QTemporaryDir m_dir;
};

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

    // Refusals change nothing; a failure after the account was made leaves it as it stands (and
    // blocks a second attempt). "file" gets "text" appended, or goes when the text is empty.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("adminGroup");
        QTest::addColumn<QByteArray>("uid");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("kept");
        const QByteArray none, passwd = "etc/passwd", sudo = "sudo", uid = "501";
        QTest::newRow("name taken") << passwd << QByteArray("pelk-r-0123456789ab:x:600:100::/home/x:/bin/sh\n") << sudo
                                    << uid << kGood << false;
        QTest::newRow("uid taken") << passwd << QByteArray("pelk-r-aaaaaaaaaaaa:x:501:100::/home/y:/bin/sh\n") << sudo
                                   << uid << kGood << false;
        QTest::newRow("uid beyond 32 bits") << none << none << sudo << QByteArray("4294967296") << kGood << false;
        // crypt(3) would stop at the NUL; 128 emoji are 512 bytes, more than it (and so login) can check.
        QTest::newRow("NUL in the password")
            << none << none << sudo << uid << QByteArray("correct\0horse", 13) << false;
        QTest::newRow("128 emoji") << none << none << sudo << uid << QByteArray("\xF0\x9F\x98\x80").repeated(128)
                                   << false;
        QTest::newRow("no shadow file") << QByteArray("etc/shadow") << none << sudo << uid << kGood << false;
        QTest::newRow("no administrators group") << none << none << none << uid << kGood << true;
        QTest::newRow("home cannot be made") << QByteArray("home") << QByteArray("x") << sudo << uid << kGood << true;
        QTest::newRow("home exists") << QByteArray("home/pelk-r-0123456789ab/secret") << QByteArray("x") << sudo << uid
                                     << kGood << true;
    }
    void failures()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, adminGroup);
        QFETCH(QByteArray, uid);
        QFETCH(QByteArray, password);
        QFETCH(bool, kept);
        const ThrowawayRoot tree(adminGroup);
        const char *path = file.constData();
        if (file == "home") // a file where the homes go
            QVERIFY(QDir(tree.path(path)).removeRecursively());
        if (!file.isEmpty() && text.isEmpty())
            QVERIFY(QFile::remove(tree.path(path)));
        else if (!file.isEmpty())
            tree.write(path, tree.read(path) + text);
        const QByteArray before = tree.accounts();
        QCOMPARE(createIn(tree, password, uid), 1);
        const QString home = tree.path("home/pelk-r-0123456789ab");
        if (!kept) {
            QCOMPARE(tree.accounts(), before);
            QVERIFY(!QFileInfo::exists(home));
            return;
        }
        QCOMPARE(tree.line("etc/passwd", kName), kPasswdLine);
        QVERIFY(passwordIsSet(tree, password));
        QCOMPARE(tree.line("etc/group", "sudo").endsWith(kName), !adminGroup.isEmpty());
        // No home was made, and what stood there is not taken over.
        const bool homeTaken = file.startsWith("home");
        QCOMPARE(ownerOf(homeTaken ? tree.path(path) : home), homeTaken ? u"0:0:644"_s : QString());
        QCOMPARE(createIn(tree, password, uid), 1);
    }
};

QTEST_GUILESS_MAIN(TestShadowDirectory)
#include "test_shadow_directory.moc"
