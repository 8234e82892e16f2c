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

namespace {

const QByteArray kName = "pelk-r-0123456789ab";
const QByteArray kPasswdLine = kName + ":x:501:100:Pelk Recovery Administrator:/home/" + kName + ":/bin/bash";
const QByteArray kRootShadow = "root:$6$fixedsalt$rootshash:19000:0:99999:7:::";
const QByteArray kEmoji = QByteArray("\xF0\x9F\x98\x80").repeated(127); // 508 bytes

// A minimal system tree for shadow-utils to work on instead of this machine's own accounts; its
// administrators group is adminGroup (none when empty).
struct Tree {
    QTemporaryDir dir;

    explicit Tree(const QByteArray &adminGroup)
    {
        const QByteArray admin = adminGroup.isEmpty() ? QByteArray() : adminGroup + ":x:27:\n";
        write("etc/passwd", "root:x:0:0:root:/root:/bin/bash\n");
        write("etc/shadow", kRootShadow + '\n', 0600);
        write("etc/group", "root:x:0:\n" + admin + "users:x:100:\n");
        write("etc/gshadow", "root:*::\n" + QByteArray(admin).replace(":x:27:", ":*::") + "users:*::\n", 0600);
        write("etc/skel/.profile", "# the tree's own profile\n");
        write("etc/skel/.config/app/settings", "tree=yes\n", 0640);
        QFile::link(u"../.profile"_s, path("etc/skel/.config/profile-link"));
        write("bin/bash", "", 0755);
        QDir().mkpath(path("home"));
    }
    QString path(const QByteArray &relative) const { return dir.filePath(QString::fromUtf8(relative)); }
    void write(const QByteArray &relative, const QByteArray &bytes, mode_t mode = 0644) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile f(path(relative));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        ::chmod(QFile::encodeName(path(relative)).constData(), mode);
    }
    QByteArray read(const QByteArray &relative) const
    {
        QFile f(path(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The line of the named entry in an account file, without its newline; empty when absent.
    QByteArray line(const QByteArray &relative, const QByteArray &name) const
    {
        for (const QByteArray &l : read(relative).split('\n'))
            if (l.startsWith(QByteArray(name + ':')))
                return l;
        return {};
    }
    QByteArray accounts() const
    {
        return read("etc/passwd") + read("etc/shadow") + read("etc/group") + read("etc/gshadow");
    }
};

// "uid:gid:mode" of a path, not following a link.
QString ownerOf(const QString &path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return u"%1:%2:%3"_s.arg(st.st_uid).arg(st.st_gid).arg(st.st_mode & 07777, 0, 8);
}

// How a run ends: refused with 1 and nothing changed; 0 with the account made; or 1 with the
// account left as it stands after a later step failed.
enum End { Refused, Created, Stuck };

// One run on a fresh tree, where file first gets text appended, or goes when text is empty.
struct Case {
    const char *name;
    QByteArray password = "correct horse battery";
    QByteArray adminGroup = "sudo";
    QByteArray file = {};
    QByteArray text = "x";
    QByteArray uid = "501";
    End end = Refused;
};

const Case kCases[] = {
    // A line-based tool fed "name:password" would read the rest as a record for root.
    { .name = "newline and colon", .password = "x:y\nroot:$1$evil$evil:1:0:99999:7:::", .end = Created },
    // The shell is zsh where the tree has one, and the administrators group is the tree's own.
    { .name = "emoji, wheel, zsh", .password = kEmoji, .adminGroup = "wheel", .file = "bin/zsh", .end = Created },
    { .name = "name taken", .file = "etc/passwd", .text = kName + ":x:600:100::/home/x:/bin/sh\n" },
    { .name = "uid taken", .file = "etc/passwd", .text = "pelk-r-aaaaaaaaaaaa:x:501:100::/home/y:/bin/sh\n" },
    { .name = "uid beyond 32 bits", .uid = "4294967296" },
    // crypt(3) would stop at the NUL: refused before any change.
    { .name = "NUL in the password", .password = QByteArray("correct\0horse", 13) },
    { .name = "no shadow file", .file = "etc/shadow", .text = {} },
    { .name = "no administrators group", .adminGroup = "", .end = Stuck },
    { .name = "home exists", .file = "home/" + kName + "/secret", .end = Stuck },
};

} // namespace

// The whole mode, as root, against a throwaway tree instead of this machine.
class TestShadowDirectory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (::geteuid() != 0 || !QFileInfo(u"/usr/sbin/useradd"_s).isExecutable())
            QSKIP("creating accounts, even in a throwaway tree, needs root and shadow-utils");
    }

    void run_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kCases)); ++i)
            QTest::newRow(kCases[i].name) << i;
    }
    void run()
    {
        QFETCH(int, index);
        const Case &c = kCases[index];
        const Tree tree(c.adminGroup);
        if (!c.file.isEmpty() && c.text.isEmpty())
            QFile::remove(tree.path(c.file));
        else if (!c.file.isEmpty())
            tree.write(c.file, tree.read(c.file) + c.text, 0755);
        const QString home = tree.path("home/" + kName + '/');
        const QByteArray before = tree.accounts();
        const QString homeBefore = ownerOf(home);
        const QByteArray input = requestText(QString::fromUtf8(kName), QString::fromUtf8(c.password), c.uid);
        platform::ShadowDirectoryService directory(tree.dir.path());
        recovery::RecoveryAdminCreator creator(
            [input](qsizetype) { return std::optional(input); }, [] { return 0u; }, directory);
        QCOMPARE(creator.run(), c.end == Created ? 0 : 1);
        // Only a created account gets a home, and one that stood there already is not taken over.
        QCOMPARE(ownerOf(home), c.end == Created ? u"501:100:700"_s : homeBefore);
        QCOMPARE(tree.accounts() == before, c.end == Refused);
        if (c.end == Refused)
            return;
        QCOMPARE(tree.line("etc/passwd", kName), c.file == "bin/zsh" ? kPasswdLine.chopped(4) + "zsh" : kPasswdLine);
        QCOMPARE(tree.read("etc/shadow"), kRootShadow + '\n' + tree.line("etc/shadow", kName) + '\n');
        QVERIFY(platform::passwordhash::matches(c.password, tree.line("etc/shadow", kName).split(':').value(1)));
        if (!c.adminGroup.isEmpty()) {
            QCOMPARE(tree.line("etc/group", c.adminGroup), c.adminGroup + ":x:27:" + kName);
            QCOMPARE(tree.line("etc/gshadow", c.adminGroup), c.adminGroup + ":*::" + kName);
        }
        if (c.end == Stuck)
            return;
        // A private home with a copy of the tree's skeleton, all of it the account's own.
        QCOMPARE(ownerOf(home + ".config/app/settings"_L1), u"501:100:640"_s);
        for (const char *path : { ".profile", ".config/app", ".config/profile-link" })
            QVERIFY(ownerOf(home + QLatin1StringView(path)).startsWith("501:100:"_L1));
        QCOMPARE(QFileInfo(home + ".config/profile-link"_L1).symLinkTarget(), home + ".profile"_L1);
        QCOMPARE(tree.read("home/" + kName + "/.profile"), tree.read("etc/skel/.profile"));
    }
};

QTEST_GUILESS_MAIN(TestShadowDirectory)
#include "test_shadow_directory.moc"
