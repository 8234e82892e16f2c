#include "AgentModelFixture.h"

#include <QCryptographicHash>
#include <QSemaphore>
#include <QTest>

#include <cstdlib>
#include <sys/stat.h>

using namespace pelk;
using namespace Qt::StringLiterals;
using Outcome = platform::PrivilegedRunner::Outcome;

Q_DECLARE_METATYPE(pelk::platform::PrivilegedRunner::Outcome)

namespace {

const QString kInvalid = u"Choose a Linux enrollment JSON downloaded from Pelk."_s;
const QString kUnreadable = u"Choose an enrollment JSON downloaded from Pelk."_s;
const QString kExpired = u"This file has expired. Download a new enrollment file from Pelk."_s;

} // namespace

class TestEnrollmentImport : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;

private Q_SLOTS:
    void init() { f = std::make_unique<testing::AgentModelFixture>(); }

    void memberChecks_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<QString>("error"); // empty: accepted
        const auto row = [](const char *name, const char *key, const QJsonValue &value, const QString &error) {
            QTest::newRow(name) << QJsonObject { { QLatin1StringView(key), value } } << error;
        };
        row("valid", "workspace", u"Acme"_s, QString());
        row("member null", "workspace", QJsonValue::Null, kUnreadable);
        row("format", "format", u"co.pelkcore.agent-enrollment.v2"_s, kInvalid);
        row("version 2", "version", 2, kInvalid);
        row("role", "role", u"agent"_s, kInvalid);
        row("platform", "platform", u"linux"_s, kInvalid);
        row("device_id 0", "device_id", 0, kInvalid);
        row("url with port and slash", "base_url", u"https://m.example:8443/"_s, QString());
        row("url http", "base_url", u"http://m.example"_s, kInvalid);
        row("url upper-case scheme", "base_url", u"HTTPS://m.example"_s, kInvalid);
        row("url longer path", "base_url", u"https://m.example/api"_s, kInvalid);
        row("url query", "base_url", u"https://m.example/?a=1"_s, kInvalid);
        row("url empty query", "base_url", u"https://m.example?"_s, kInvalid);
        row("url empty fragment", "base_url", u"https://m.example/#"_s, kInvalid);
        row("url user", "base_url", u"https://admin@m.example"_s, kInvalid);
        row("url empty user", "base_url", u"https://@m.example"_s, kInvalid);
        row("url no host", "base_url", u"https:///"_s, kInvalid);
        // 32 user-perceived characters, each an e with a combining accent (64 UTF-16 units).
        row("token 32 graphemes", "enrollment_token", QString(u"e\u0301"_s).repeated(32), QString());
        row("token 31 graphemes", "enrollment_token", QString(u"e\u0301"_s).repeated(31), kInvalid);
        row("expiry exactly now", "expires_at", u"2026-05-01T09:30:00Z"_s, kExpired);
        row("expiry a millisecond later", "expires_at", u"2026-05-01T09:30:00.001Z"_s, QString());
        row("expiry unreadable", "expires_at", u"soon"_s, kExpired);
        QTest::newRow("invalid beats expired")
            << QJsonObject { { u"role"_s, u"agent"_s }, { u"expires_at"_s, u"2020-01-01T00:00:00Z"_s } } << kInvalid;
    }
    void memberChecks()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(QString, error);
        f->import().loadFile(f->enrollment("profile.json", changes));
        QCOMPARE(f->import().errorText(), error);
        QCOMPARE(f->import().selectedDeviceName(), error.isEmpty() ? u"mac-01"_s : QString());
    }

    void fileChecks()
    {
        QFile file(f->enrollment("exact.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray exact = file.readAll().leftJustified(65536, ' ');
        f->write(file.fileName(), exact);
        f->import().loadFile(f->path("exact.json"));
        QVERIFY(!f->import().hasError());
        f->import().loadFile(f->write(f->path("over.json"), exact + ' '));
        QCOMPARE(f->import().errorText(), kInvalid);
        f->import().loadFile(f->write(f->path("empty.json"), {}));
        QCOMPARE(f->import().errorText(), kUnreadable);
        QVERIFY(QFile::link(f->path("exact.json"), f->path("link.json")));
        f->import().loadFile(f->path("link.json"));
        QCOMPARE(f->import().errorText(), kInvalid);
        QCOMPARE(::mkfifo(QFile::encodeName(f->path("fifo")).constData(), 0600), 0);
        f->import().loadFile(f->path("fifo"));
        QCOMPARE(f->import().errorText(), kInvalid);
        f->import().load(QUrl(u"https://m.example/enrollment.json"_s));
        QCOMPARE(f->import().errorText(), kUnreadable);
        // Through all of that, the first good file stayed selected; a good load clears the error.
        QVERIFY(f->import().hasSelection());
        f->import().load(QUrl::fromLocalFile(f->path("exact.json")));
        QVERIFY(!f->import().hasError());
    }

    // The helper really runs through the shell: it gets the private copy and its digest intact.
    void successfulImport()
    {
        const QString helper = f->write(f->path("helper"),
            "#!/bin/sh\nprintf '%s\\n' \"$@\" \"$(stat -c %a \"$2\")\" \"$(sha256sum < \"$2\")\" > \"$0.log\"\n");
        QVERIFY(QFile::setPermissions(helper, QFile::ReadOwner | QFile::ExeOwner));
        f->runner->inspect = [](const QString &commandLine) {
            [[maybe_unused]] const int status = std::system(commandLine.toLocal8Bit().constData());
        };
        QFile file(f->enrollment("profile.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString digest
            = QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
        f->import().loadFile(file.fileName());
        f->import().connect();
        QVERIFY(f->import().busy());
        QTRY_VERIFY(!f->import().busy());

        QFile log(helper + u".log"_s);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList args = QString::fromUtf8(log.readAll()).split(u'\n');
        QCOMPARE(args.size(), 7);
        QCOMPARE(args[0], u"--import-enrollment"_s);
        QVERIFY(args[1].startsWith(f->copyDirectory + u"/pelk-enrollment-"_s) && args[1].endsWith(u".json"_s));
        QCOMPARE(args.mid(2, 4), QStringList({ u"--enrollment-sha256"_s, digest, u"600"_s, digest + u"  -"_s }));
        QVERIFY(!QFile::exists(f->path("CANARY")));
        QVERIFY(f->copies().isEmpty());
        QVERIFY(f->runner->thread != QThread::currentThread());
        QCOMPARE(f->refreshThread, QThread::currentThread());
        QCOMPARE(f->refreshes, 1);
        QCOMPARE(f->model->phase(), u"connecting"_s);
        QCOMPARE(f->model->message(), u"Enrollment imported. Connecting to https://m.example\u2026"_s);
        QVERIFY(!f->import().hasSelection() && !f->import().hasError());
        f->import().connect();
        QCOMPARE(f->runner->commandLines.size(), 1);

        // Until the agent writes a status dated at or after the import, "connecting" holds.
        f->status(R"("phase":"connected","updated_at":")" + f->iso(1).toLatin1() + '"');
        QCOMPARE(f->model->phase(), u"connecting"_s);
        QCOMPARE(f->refreshes, 1); // ignored, and nobody is told
        f->status(R"("phase":"offline")"); // undated: the rule cannot apply
        QCOMPARE(f->model->phase(), u"offline"_s);
        f->status(R"("phase":"connected","updated_at":")" + f->iso(0).toLatin1() + '"');
        QCOMPARE(f->model->phase(), u"connected"_s);
    }

    void unsuccessfulImport_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("copyDirectory");
        QTest::addColumn<QString>("error");
        QTest::newRow("cancelled") << Outcome::Cancelled << true
                                   << u"Setup cancelled. Your current connection was kept."_s;
        QTest::newRow("failed") << Outcome::Failed << true
                                << u"The file could not be imported. Check that the latest Pelk Agent is installed "
                                   u"and choose a fresh enrollment file."_s;
        QTest::newRow("no copy") << Outcome::Succeeded << false << u"The enrollment file could not be prepared."_s;
    }
    void unsuccessfulImport()
    {
        QFETCH(Outcome, outcome);
        QFETCH(bool, copyDirectory);
        f->runner->outcome = outcome;
        f->import().connect(); // nothing selected: nothing happens
        QVERIFY(!f->import().busy());
        f->import().loadFile(f->enrollment("profile.json"));
        if (!copyDirectory)
            QDir(f->copyDirectory).removeRecursively();
        f->import().connect();
        QTRY_VERIFY(!f->import().busy());
        QTEST(f->import().errorText(), "error");
        QVERIFY(f->import().hasSelection());
        QCOMPARE(f->runner->commandLines.size(), copyDirectory ? 1 : 0);
        QCOMPARE(f->refreshes, 0);
        QVERIFY(f->copies().isEmpty());
        // A status dated before the attempt is still shown: no import happened.
        f->status(R"("phase":"offline","updated_at":")" + f->iso(1000).toLatin1() + '"');
        QCOMPARE(f->model->phase(), u"offline"_s);
    }

    void nothingOverlapsAnImport()
    {
        QSemaphore entered, release;
        f->runner->inspect = [&](const QString &) {
            entered.release();
            release.acquire();
        };
        f->import().loadFile(f->enrollment("first.json"));
        f->import().connect();
        entered.acquire();
        f->import().loadFile(f->enrollment("other.json", { { u"device_name"_s, u"other"_s } }));
        f->import().loadFile(f->path("missing.json"));
        f->import().connect();
        QCOMPARE(f->import().selectedDeviceName(), u"mac-01"_s);
        QVERIFY(!f->import().hasError());
        release.release();
        QTRY_VERIFY(!f->import().busy());
        QCOMPARE(f->runner->commandLines.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestEnrollmentImport)
#include "test_enrollment_import.moc"
