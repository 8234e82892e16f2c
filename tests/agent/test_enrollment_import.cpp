#include "AgentModelFixture.h"
#include "agent/EnrollmentImport.h"

#include <QSemaphore>
#include <QTest>

#include <sys/stat.h>

using namespace pelk;
using namespace pelk::agent;
using namespace Qt::StringLiterals;
using Outcome = platform::PrivilegedRunner::Outcome;
using Fixture = testing::AgentModelFixture;

Q_DECLARE_METATYPE(pelk::platform::PrivilegedRunner::Outcome)

namespace {

const QString kInvalid = u"Choose a macOS enrollment JSON downloaded from Pelk."_s;
const QString kGeneric = u"Choose an enrollment JSON downloaded from Pelk."_s;
const QString kExpired = u"This file has expired. Download a new enrollment file from Pelk."_s;

} // namespace

class TestEnrollmentImport : public QObject {
    Q_OBJECT

    std::unique_ptr<Fixture> f;

private Q_SLOTS:
    void init() { f = std::make_unique<Fixture>(); }

    void fieldChecks_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // undefined: remove the key
        QTest::addColumn<QString>("error"); // empty: accepted
        auto row = [](const char *name, const char *key, const QJsonValue &value, const QString &error) {
            QTest::newRow(name) << QString::fromLatin1(key) << value << error;
        };
        row("valid", "workspace", u"Acme"_s, QString());
        row("key missing", "workspace", QJsonValue(QJsonValue::Undefined), kGeneric);
        row("format", "format", u"co.pelkcore.agent-enrollment.v2"_s, kInvalid);
        row("role", "role", u"agent"_s, kInvalid);
        row("device_id 0", "device_id", 0, kInvalid);
        row("url with port and slash", "base_url", u"https://m.example:8443/"_s, QString());
        row("url http", "base_url", u"http://m.example"_s, kInvalid);
        row("url longer path", "base_url", u"https://m.example/api"_s, kInvalid);
        row("url query", "base_url", u"https://m.example/?a=1"_s, kInvalid);
        row("url user", "base_url", u"https://admin@m.example"_s, kInvalid);
        row("url no host", "base_url", u"https:///"_s, kInvalid);
        // 32 user-perceived characters, each an e with a combining accent (64 UTF-16 units).
        row("token 32 graphemes", "enrollment_token", QString(u"e\u0301"_s).repeated(32), QString());
        row("token 31 graphemes", "enrollment_token", QString(u"e\u0301"_s).repeated(31), kInvalid);
        row("expiry exactly now", "expires_at", u"2026-05-01T09:30:00Z"_s, kExpired);
        row("expiry a millisecond later", "expires_at", u"2026-05-01T09:30:00.001Z"_s, QString());
    }
    void fieldChecks()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(QString, error);
        QJsonObject o = Fixture::profile();
        if (value.isUndefined())
            o.remove(key);
        else
            o.insert(key, value);
        const QString path = f->write(u"profile.json"_s, o);
        f->model->loadFile(path);
        QCOMPARE(f->model->errorText(), error);
        QCOMPARE(f->model->hasSelection(), error.isEmpty());
        if (error.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(f->model->selectedData(), std::optional<QByteArray>(file.readAll()));
            QCOMPARE(f->model->selectedDeviceName(), u"mac-01"_s);
        }
    }

    void invalidBeatsExpired()
    {
        QJsonObject o = Fixture::profile();
        o.insert(u"role"_s, u"agent"_s);
        o.insert(u"expires_at"_s, u"2020-01-01T00:00:00Z"_s);
        f->model->loadFile(f->write(u"both.json"_s, o));
        QCOMPARE(f->model->errorText(), kInvalid);
    }

    void fileChecks()
    {
        QByteArray exact = QJsonDocument(Fixture::profile()).toJson();
        exact.append(QByteArray(kMaxEnrollmentBytes - exact.size(), ' '));
        f->model->loadFile(f->write(u"exact.json"_s, exact));
        QVERIFY(!f->model->hasError());
        QCOMPARE(f->model->selectedData()->size(), 65536);

        f->model->loadFile(f->write(u"over.json"_s, exact + ' '));
        QCOMPARE(f->model->errorText(), kInvalid);
        f->model->loadFile(f->write(u"empty.json"_s, QByteArray()));
        QCOMPARE(f->model->errorText(), kGeneric);
        QVERIFY(QFile::link(f->dir.filePath(u"exact.json"_s), f->dir.filePath(u"link.json"_s)));
        f->model->loadFile(f->dir.filePath(u"link.json"_s));
        QCOMPARE(f->model->errorText(), kInvalid);
        QVERIFY(::mkfifo(QFile::encodeName(f->dir.filePath(u"fifo"_s)).constData(), 0600) == 0);
        f->model->loadFile(f->dir.filePath(u"fifo"_s));
        QCOMPARE(f->model->errorText(), kInvalid);
        f->model->load(QUrl(u"https://m.example/enrollment.json"_s));
        QCOMPARE(f->model->errorText(), kGeneric);
        // Through all of that, the first good file stayed selected.
        QCOMPARE(f->model->selectedData(), std::optional<QByteArray>(exact));
        // A good load clears the error.
        f->model->load(QUrl::fromLocalFile(f->dir.filePath(u"exact.json"_s)));
        QVERIFY(!f->model->hasError());
    }

    void successfulImport()
    {
        const QString path = f->write(u"profile.json"_s, Fixture::profile());
        f->model->loadFile(path);
        const QByteArray bytes = *f->model->selectedData();
        QString seenCopy;
        QByteArray seenBytes;
        mode_t seenMode = 0;
        f->runner->inspect = [&](const QString &commandLine) {
            // The copy's path is the third quoted value; its name carries no quote.
            const qsizetype start = commandLine.indexOf(u"pelk-enrollment-"_s);
            seenCopy = f->temporaryDirectory + u'/' + commandLine.mid(start, commandLine.indexOf(u'\'', start) - start);
            QFile copy(seenCopy);
            if (copy.open(QIODevice::ReadOnly))
                seenBytes = copy.readAll();
            struct stat info { };
            if (::stat(QFile::encodeName(seenCopy).constData(), &info) == 0)
                seenMode = info.st_mode & 07777;
        };
        f->model->connect();
        QVERIFY(f->model->busy());
        QTRY_VERIFY(!f->model->busy());

        QCOMPARE(
            f->runner->commandLines, QStringList({ helperCommandLine(f->helperPath(), seenCopy, sha256Hex(bytes)) }));
        QCOMPARE(seenBytes, bytes);
        QCOMPARE(seenMode, mode_t(0600));
        QVERIFY(f->runner->thread != QThread::currentThread());
        QCOMPARE(f->refreshThread, QThread::currentThread());
        QCOMPARE(f->refreshes, 1);
        QVERIFY(f->temporaryFiles().isEmpty());

        QCOMPARE(f->model->phase(), u"connecting"_s);
        QCOMPARE(f->model->message(), u"Enrollment imported. Connecting to https://m.example\u2026"_s);
        QCOMPARE(f->model->status().deviceName, std::nullopt);
        QVERIFY(!f->model->hasSelection() && !f->model->selectedData() && !f->model->hasError());
        QCOMPARE(f->model->lastImport(), std::optional<QDateTime>(f->clock.now()));
        f->model->connect();
        QCOMPARE(f->runner->commandLines.size(), 1);

        // Until the agent writes a status dated at or after the import, "connecting" holds.
        const auto status = [&](const QString &phase, qint64 secondsBefore) {
            QJsonObject o { { u"phase"_s, phase }, { u"message"_s, u""_s } };
            if (secondsBefore >= 0)
                o.insert(u"updated_at"_s, f->clock.now().addSecs(-secondsBefore).toString(Qt::ISODate));
            f->writeStatus(o);
            f->model->refresh();
            return f->model->phase();
        };
        QCOMPARE(status(u"connected"_s, 1), u"connecting"_s);
        QCOMPARE(f->refreshes, 1); // ignored, and nobody is told
        QCOMPARE(status(u"offline"_s, -1), u"offline"_s); // without updated_at the rule cannot apply
        QCOMPARE(status(u"connected"_s, 0), u"connected"_s); // at the very moment of the import
        QCOMPARE(f->refreshes, 3);
        QFile::remove(f->statusPath());
        f->model->refresh();
        QCOMPARE(f->model->phase(), u"stopped"_s); // a missing file replaces any status at once
    }

    void unsuccessfulImport_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("error");
        QTest::newRow("cancelled") << Outcome::Cancelled << u"Setup cancelled. Your current connection was kept."_s;
        QTest::newRow("failed") << Outcome::Failed
                                << u"The file could not be imported. Check that the latest Pelk Agent is installed "
                                   u"and choose a fresh enrollment file."_s;
    }
    void unsuccessfulImport()
    {
        QFETCH(Outcome, outcome);
        f->runner->outcome = outcome;
        f->model->loadFile(f->write(u"profile.json"_s, Fixture::profile()));
        f->model->connect();
        QTRY_VERIFY(!f->model->busy());
        QTEST(f->model->errorText(), "error");
        QVERIFY(f->model->hasSelection());
        QCOMPARE(f->model->phase(), u"not_enrolled"_s);
        QCOMPARE(f->refreshes, 0);
        QVERIFY(!f->model->lastImport());
        QVERIFY(f->temporaryFiles().isEmpty());
    }

    void nothingOverlapsAnImport()
    {
        QSemaphore entered;
        QSemaphore release;
        f->runner->inspect = [&](const QString &) {
            entered.release();
            release.acquire();
        };
        f->model->loadFile(f->write(u"first.json"_s, Fixture::profile()));
        f->model->connect();
        entered.acquire();
        QJsonObject other = Fixture::profile();
        other.insert(u"device_name"_s, u"other"_s);
        f->model->loadFile(f->write(u"other.json"_s, other));
        f->model->loadFile(f->dir.filePath(u"missing.json"_s));
        f->model->connect();
        QCOMPARE(f->model->selectedDeviceName(), u"mac-01"_s);
        QVERIFY(!f->model->hasError());
        release.release();
        QTRY_VERIFY(!f->model->busy());
        QCOMPARE(f->runner->commandLines.size(), 1);
    }

    void copyThatCannotBeWritten()
    {
        f->model->connect(); // nothing selected: nothing happens
        QVERIFY(!f->model->busy());
        f->model->loadFile(f->write(u"profile.json"_s, Fixture::profile()));
        QDir(f->temporaryDirectory).removeRecursively();
        f->model->connect();
        QVERIFY(!f->model->busy());
        QCOMPARE(f->model->errorText(), u"The enrollment file could not be prepared."_s);
        QVERIFY(f->model->hasSelection());
        QVERIFY(f->runner->commandLines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEnrollmentImport)
#include "test_enrollment_import.moc"
