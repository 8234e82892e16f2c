#include "platform/DirectoryService.h"
#include "platform/linux/PasswordHash.h"
#include "platform/linux/ShadowDirectoryService.h"
#include "platform/linux/ToolRunner.h"
#include "recovery/RecoveryAdminCreator.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace pelk;
using namespace pelk::platform;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

// A local directory that grants every operation but the one named in failing, and keeps the
// operations asked for, with their arguments. kSteps names them all, in the order account
// creation takes them. A password checks when it is the one set; users and uids are taken already.
class FakeDirectoryService final : public platform::DirectoryService {
public:
    using Lookup = platform::RecordLookup;
    static inline const QStringList kSteps
        = QStringLiteral("openLocalNode findUserByName findUserByUniqueId canStorePassword createUser setPassword "
                         "findGroup addMember commitUser commitGroup verifyPassword isMember createHomeDirectory")
              .split(u' ');

    QString failing;
    QSet<QString> users;
    QSet<qint64> uids;
    QList<QStringList> asked;

    bool openLocalNode() override { return ok(__func__); }
    Lookup findUserByName(const QString &name) override { return find(__func__, users.contains(name)); }
    Lookup findUserByUniqueId(qint64 uid) override { return find(__func__, uids.contains(uid)); }
    bool canStorePassword(const QString &password) override { return ok(__func__, { password }); }
    bool createUser(const platform::NewUserRecord &record) override { return ok(__func__, { record.recordName }); }
    bool setPassword(const QString &name, const QString &password) override { return ok(__func__, { name, password }); }
    bool findGroup(const QString &group) override { return ok(__func__, { group }); }
    bool addMember(const QString &group, const QString &name) override { return ok(__func__, { group, name }); }
    bool commitUser(const QString &name) override { return ok(__func__, { name }); }
    bool commitGroup(const QString &group) override { return ok(__func__, { group }); }
    bool verifyPassword(const QString &name, const QString &password) override
    {
        return ok(__func__) && asked.contains({ QStringLiteral("setPassword"), name, password });
    }
    bool isMember(const QString &group, const QString &name) override
    {
        return ok(__func__) && asked.contains({ QStringLiteral("addMember"), group, name });
    }
    bool createHomeDirectory(const QString &name) override { return ok(__func__, { name }); }

private:
    bool ok(const char *step, const QStringList &arguments = {})
    {
        asked.append(QStringList { QString::fromLatin1(step) } + arguments);
        return failing != QLatin1StringView(step);
    }
    Lookup find(const char *step, bool found)
    {
        return !ok(step) ? Lookup::Failed : found ? Lookup::Found : Lookup::NotFound;
    }
};

const QString kName = u"pelk-r-0123456789ab"_s;
const QByteArray kUser = kName.toLatin1();

// The one-shot recovery mode's standard input; the uid as raw JSON text, so tests control its type.
QByteArray requestText(
    const QString &name = kName, const QString &password = u"correct horse battery"_s, const QByteArray &uid = "501")
{
    const auto quoted = [](const QString &s) {
        return QJsonDocument(QJsonArray { s }).toJson(QJsonDocument::Compact).chopped(1).mid(1);
    };
    return "{\"username\":" + quoted(name) + ",\"password\":" + quoted(password) + ",\"uid\":" + uid + '}';
}

// The creator's exit status for this standard input (nothing: reading failed) and effective uid.
int create(DirectoryService &directory, const std::optional<QByteArray> &input, uint euid = 0)
{
    recovery::RecoveryAdminCreator creator(
        [&](qsizetype maxBytes) { return input ? std::optional(input->left(maxBytes)) : input; },
        [euid] { return euid; }, directory);
    return creator.run();
}

const QByteArray kPasswdLine = kUser + ":x:501:100:Pelk Recovery Administrator:/home/" + kUser + ":/bin/bash";
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
    { .name = "name taken", .file = "etc/passwd", .text = kUser + ":x:600:100::/home/x:/bin/sh\n" },
    { .name = "uid taken", .file = "etc/passwd", .text = "pelk-r-aaaaaaaaaaaa:x:501:100::/home/y:/bin/sh\n" },
    { .name = "uid beyond 32 bits", .uid = "4294967296" },
    // crypt(3) would stop at the NUL: refused before any change.
    { .name = "NUL in the password", .password = QByteArray("correct\0horse", 13) },
    { .name = "no shadow file", .file = "etc/shadow", .text = {} },
    { .name = "no administrators group", .adminGroup = "", .end = Stuck },
    { .name = "home exists", .file = "home/" + kUser + "/secret", .end = Stuck },
};

// What the shell script prints, run as that user with input on its standard input; $0 is the agent.
QByteArray runAs(const QString &uid, const QString &script, const QByteArray &input = {})
{
    QProcess shell;
    shell.start(u"/usr/bin/setpriv"_s,
        { "--reuid="_L1 + uid, "--regid="_L1 + uid, u"--clear-groups"_s, u"/bin/sh"_s, u"-c"_s, script,
            QStringLiteral(PELK_AGENT_PATH) });
    shell.write(input);
    shell.closeWriteChannel();
    return shell.waitForFinished(-1) ? shell.readAllStandardOutput() : QByteArray();
}

} // namespace

// The recovery administrator: the request's rules and the creator's steps over a fake directory,
// the password hashes and the tool runner it uses, then, as root, the whole mode against a
// throwaway tree and the real executable.
class TestRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("PELK_SECRET_IN_PARENT", "leak"); }

    void requestRules_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("accepted");
        const QString emoji = u"\U0001F600"_s, family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s;
        const QString flag = u"\U0001F1EB\U0001F1F7"_s, password = u"correct horse battery"_s;
        QTest::newRow("valid") << requestText() << true;
        QTest::newRow("other members ignored") << "{\"x\":[1]," + requestText().mid(1) << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no uid") << requestText().replace(",\"uid\":501", "") << false;
        QTest::newRow("uid as text") << requestText(kName, password, "\"501\"") << false;
        QTest::newRow("uid beyond 64 bits") << requestText(kName, password, "9223372036854775808") << false;
        QTest::newRow("uid 500") << requestText(kName, password, "500") << false;
        QTest::newRow("uid largest") << requestText(kName, password, "9223372036854775807") << true;
        QTest::newRow("name upper-case digit") << requestText(u"pelk-r-0123456789aB"_s) << false;
        QTest::newRow("name 11 digits") << requestText(u"pelk-r-0123456789a"_s) << false;
        QTest::newRow("name 13 digits") << requestText(u"pelk-r-0123456789abc"_s) << false;
        QTest::newRow("name not hex") << requestText(u"pelk-r-0123456789ag"_s) << false;
        QTest::newRow("name trailing newline") << requestText(kName + u'\n') << false;
        // Lengths count what a user sees as one character.
        QTest::newRow("password 12 emoji") << requestText(kName, emoji.repeated(12)) << true;
        QTest::newRow("password 11 emoji") << requestText(kName, emoji.repeated(11)) << false;
        QTest::newRow("password 11 families") << requestText(kName, family.repeated(11)) << false;
        QTest::newRow("password 128 flags") << requestText(kName, flag.repeated(128)) << true;
        QTest::newRow("password 129 flags") << requestText(kName, flag.repeated(129)) << false;
        // The size limit counts bytes of the whole input, whatever they hold.
        const QByteArray padded = requestText() + QByteArray(2047 - requestText().size(), ' ');
        QTest::newRow("2047 bytes") << padded << true;
        QTest::newRow("2048 bytes") << padded + ' ' << false;
    }
    void requestRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, accepted);
        FakeDirectoryService directory;
        QCOMPARE(create(directory, input), accepted ? 0 : 1);
        QCOMPARE(directory.asked.isEmpty(), !accepted); // refused before the directory is even opened
    }

    void refusedWhenNotRootOrUnreadable()
    {
        FakeDirectoryService directory;
        QCOMPARE(create(directory, requestText(), 501), 1);
        QCOMPARE(create(directory, std::nullopt), 1);
        QVERIFY(directory.asked.isEmpty());
    }

    // Every failing step, and a name or uid already taken, ends the run with 1 at once.
    void stopsAtTheFirstFailure_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("takenName");
        QTest::addColumn<qint64>("takenUid");
        QTest::addColumn<QString>("last"); // the last step asked for
        for (const QString &step : FakeDirectoryService::kSteps)
            QTest::newRow(qPrintable(step)) << step << QString() << qint64(0) << step;
        QTest::newRow("name taken") << QString() << kName << qint64(0) << u"findUserByName"_s;
        QTest::newRow("uid taken") << QString() << QString() << qint64(501) << u"findUserByUniqueId"_s;
    }
    void stopsAtTheFirstFailure()
    {
        QFETCH(QString, failing);
        QFETCH(QString, takenName);
        QFETCH(qint64, takenUid);
        FakeDirectoryService directory;
        directory.failing = failing;
        directory.users.insert(takenName);
        directory.uids.insert(takenUid);
        QCOMPARE(create(directory, requestText()), 1);
        QTEST(directory.asked.last().first(), "last");
    }

    void passwordHashRoundTrip()
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

    // Each row runs /bin/sh -c SCRIPT sh ARGUMENT (a missing program when SCRIPT is empty).
    void toolRunner_data()
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
    void toolRunner()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, input);
        // Only the tool that never ends may run out of time, however loaded the machine is.
        const auto timeout = script.startsWith("sleep"_L1) ? 300ms : ToolRunner::kDefaultTimeout;
        const QString program = script.isEmpty() ? u"/nonexistent/tool"_s : u"/bin/sh"_s;
        QTEST(ToolRunner(timeout).run(program, { u"-c"_s, script, u"sh"_s, u"a b;$(x)"_s }, input), "status");
    }

    // The whole mode, as root, against a throwaway tree instead of this machine.
    void shadowTree_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kCases)); ++i)
            QTest::newRow(kCases[i].name) << i;
    }
    void shadowTree()
    {
        if (::geteuid() != 0 || !QFileInfo(u"/usr/sbin/useradd"_s).isExecutable())
            QSKIP("creating accounts, even in a throwaway tree, needs root and shadow-utils");
        QFETCH(int, index);
        const Case &c = kCases[index];
        const Tree tree(c.adminGroup);
        if (!c.file.isEmpty() && c.text.isEmpty())
            QFile::remove(tree.path(c.file));
        else if (!c.file.isEmpty())
            tree.write(c.file, tree.read(c.file) + c.text, 0755);
        const QString home = tree.path("home/" + kUser + '/');
        const QByteArray before = tree.accounts();
        const QString homeBefore = ownerOf(home);
        ShadowDirectoryService directory(tree.dir.path());
        QCOMPARE(create(directory, requestText(kName, QString::fromUtf8(c.password), c.uid)), c.end == Created ? 0 : 1);
        // Only a created account gets a home, and one that stood there already is not taken over.
        QCOMPARE(ownerOf(home), c.end == Created ? u"501:100:700"_s : homeBefore);
        QCOMPARE(tree.accounts() == before, c.end == Refused);
        if (c.end == Refused)
            return;
        QCOMPARE(tree.line("etc/passwd", kUser), c.file == "bin/zsh" ? kPasswdLine.chopped(4) + "zsh" : kPasswdLine);
        QCOMPARE(tree.read("etc/shadow"), kRootShadow + '\n' + tree.line("etc/shadow", kUser) + '\n');
        QVERIFY(passwordhash::matches(c.password, tree.line("etc/shadow", kUser).split(':').value(1)));
        if (!c.adminGroup.isEmpty()) {
            QCOMPARE(tree.line("etc/group", c.adminGroup), c.adminGroup + ":x:27:" + kUser);
            QCOMPARE(tree.line("etc/gshadow", c.adminGroup), c.adminGroup + ":*::" + kUser);
        }
        if (c.end == Stuck)
            return;
        // A private home with a copy of the tree's skeleton, all of it the account's own.
        QCOMPARE(ownerOf(home + ".config/app/settings"_L1), u"501:100:640"_s);
        for (const char *path : { ".profile", ".config/app", ".config/profile-link" })
            QVERIFY(ownerOf(home + QLatin1StringView(path)).startsWith("501:100:"_L1));
        QCOMPARE(QFileInfo(home + ".config/profile-link"_L1).symLinkTarget(), home + ".profile"_L1);
        QCOMPARE(tree.read("home/" + kUser + "/.profile"), tree.read("etc/skel/.profile"));
    }

    // The real executable in its one-shot mode. None of these inputs can name an account that would
    // be created: as root they are refused at decoding, and as another user before standard input is read.
    void executableRefusesAndExits()
    {
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
            QSKIP("needs root, and setpriv to drop it");
        const QString agent = u"env -i \"$0\" --create-recovery-admin"_s;
        // Not root: cat prints the whole request, left unread.
        QCOMPARE(runAs(u"65534"_s, agent + u"; echo $?; cat"_s, requestText()), "1\n" + requestText());
        // Root: empty and endless input.
        QCOMPARE(runAs(u"0"_s, agent + u" </dev/null; echo $?; "_s + agent + u" </dev/zero; echo $?"_s), "1\n1\n");
    }
};

QTEST_GUILESS_MAIN(TestRecovery)
#include "test_recovery.moc"
