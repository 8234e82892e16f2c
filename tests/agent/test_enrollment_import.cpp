#include "agent/AgentModel.h"
#include "agent/EnrollmentImport.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeEnvironment.h"
#include "fakes/FakeLocationService.h"
#include "fakes/FakePrivilegedRunner.h"
#include "location/LocationReporter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace pelk;
using namespace pelk::agent;
using namespace Qt::StringLiterals;
using Outcome = platform::PrivilegedRunner::Outcome;

Q_DECLARE_METATYPE(pelk::platform::PrivilegedRunner::Outcome)

namespace {

const QString kInvalid = u"Choose a macOS enrollment JSON downloaded from Pelk."_s;
const QString kGeneric = u"Choose an enrollment JSON downloaded from Pelk."_s;
const QString kExpired = u"This file has expired. Download a new enrollment file from Pelk."_s;

QJsonObject validProfile()
{
    return { { u"format"_s, u"co.pelkcore.agent-enrollment"_s }, { u"version"_s, 1 },
        { u"base_url"_s, u"https://m.example"_s }, { u"workspace"_s, u"Acme"_s }, { u"device_name"_s, u"mac-01"_s },
        { u"device_id"_s, 42 }, { u"platform"_s, u"macos"_s }, { u"role"_s, u"helper"_s },
        { u"enrollment_token"_s, QString(32, u't') }, { u"expires_at"_s, u"2030-01-01T00:00:00Z"_s } };
}

} // namespace

class TestEnrollmentImport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fakes::FakeClock m_clock;
    fakes::FakeEnvironment m_environment;
    std::unique_ptr<AgentModel> m_model;
    std::shared_ptr<fakes::FakePrivilegedRunner> m_fake;
    QString m_temporaryDirectory;
    int m_refreshes = 0;
    QThread *m_refreshThread = nullptr;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
        return path;
    }
    QString writeProfile(const QString &name, const QJsonObject &object)
    {
        return write(name, QJsonDocument(object).toJson());
    }
    QStringList temporaryFiles() const
    {
        return QDir(m_temporaryDirectory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void init()
    {
        // The copy goes to a directory whose name the shell would gladly misread.
        m_temporaryDirectory = m_dir.filePath(u"tmp 'it''s' $(touch CANARY) `x`"_s);
        QVERIFY(QDir().mkpath(m_temporaryDirectory));
        m_fake = std::make_shared<fakes::FakePrivilegedRunner>();
        auto *reporter = new location::LocationReporter(
            new fakes::FakeLocationService, m_clock, m_environment, [] { return true; },
            m_dir.filePath(u"location.json"_s));
        m_model = std::make_unique<AgentModel>(AgentModel::Collaborators { .statusPath = m_dir.filePath(u"none"_s),
            .helperPath = u"/nonexistent"_s,
            .temporaryDirectory = m_temporaryDirectory,
            .clock = &m_clock,
            .environment = &m_environment,
            .runner = m_fake,
            .location = reporter });
        m_refreshes = 0;
        m_model->setOnRefresh([this] {
            ++m_refreshes;
            m_refreshThread = QThread::currentThread();
        });
    }
    void cleanup()
    {
        m_model.reset();
        QDir(m_temporaryDirectory).removeRecursively();
    }

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
        QJsonObject o = validProfile();
        if (value.isUndefined())
            o.remove(key);
        else
            o.insert(key, value);
        const QString path = writeProfile(u"profile.json"_s, o);
        m_model->loadFile(path);
        QCOMPARE(m_model->errorText(), error);
        QCOMPARE(m_model->hasSelection(), error.isEmpty());
        if (error.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(m_model->selectedData(), std::optional<QByteArray>(f.readAll()));
            QCOMPARE(m_model->selectedDeviceName(), u"mac-01"_s);
        }
    }

    void invalidBeatsExpired()
    {
        QJsonObject o = validProfile();
        o.insert(u"role"_s, u"agent"_s);
        o.insert(u"expires_at"_s, u"2020-01-01T00:00:00Z"_s);
        m_model->loadFile(writeProfile(u"both.json"_s, o));
        QCOMPARE(m_model->errorText(), kInvalid);
    }

    void fileChecks()
    {
        QByteArray exact = QJsonDocument(validProfile()).toJson();
        exact.append(QByteArray(kMaxEnrollmentBytes - exact.size(), ' '));
        m_model->loadFile(write(u"exact.json"_s, exact));
        QVERIFY(!m_model->hasError());
        QCOMPARE(m_model->selectedData()->size(), 65536);

        m_model->loadFile(write(u"over.json"_s, exact + ' '));
        QCOMPARE(m_model->errorText(), kInvalid);
        m_model->loadFile(write(u"empty.json"_s, QByteArray()));
        QCOMPARE(m_model->errorText(), kGeneric);
        QVERIFY(QFile::link(m_dir.filePath(u"exact.json"_s), m_dir.filePath(u"link.json"_s)));
        m_model->loadFile(m_dir.filePath(u"link.json"_s));
        QCOMPARE(m_model->errorText(), kInvalid);
        QVERIFY(::mkfifo(QFile::encodeName(m_dir.filePath(u"fifo"_s)).constData(), 0600) == 0);
        m_model->loadFile(m_dir.filePath(u"fifo"_s));
        QCOMPARE(m_model->errorText(), kInvalid);
        m_model->load(QUrl(u"https://m.example/enrollment.json"_s));
        QCOMPARE(m_model->errorText(), kGeneric);
        // Through all of that, the first good file stayed selected.
        QCOMPARE(m_model->selectedData(), std::optional<QByteArray>(exact));
        // A good load clears the error.
        m_model->load(QUrl::fromLocalFile(m_dir.filePath(u"exact.json"_s)));
        QVERIFY(!m_model->hasError());
    }

    void successfulImport()
    {
        const QString path = writeProfile(u"profile.json"_s, validProfile());
        m_model->loadFile(path);
        const QByteArray bytes = *m_model->selectedData();
        QString seenCopy;
        QByteArray seenBytes;
        mode_t seenMode = 0;
        m_fake->inspect = [&](const QString &commandLine) {
            // The copy's path is the third quoted value; its name carries no quote.
            const qsizetype start = commandLine.indexOf(u"pelk-enrollment-"_s);
            seenCopy = m_temporaryDirectory + u'/' + commandLine.mid(start, commandLine.indexOf(u'\'', start) - start);
            QFile f(seenCopy);
            if (f.open(QIODevice::ReadOnly))
                seenBytes = f.readAll();
            struct stat info { };
            if (::stat(QFile::encodeName(seenCopy).constData(), &info) == 0)
                seenMode = info.st_mode & 07777;
        };
        m_model->connect();
        QVERIFY(m_model->busy());
        QTRY_VERIFY(!m_model->busy());

        QCOMPARE(
            m_fake->commandLines, QStringList({ helperCommandLine(u"/nonexistent"_s, seenCopy, sha256Hex(bytes)) }));
        QCOMPARE(seenBytes, bytes);
        QCOMPARE(seenMode, mode_t(0600));
        QVERIFY(m_fake->thread != QThread::currentThread());
        QCOMPARE(m_refreshThread, QThread::currentThread());
        QCOMPARE(m_refreshes, 1);
        QVERIFY(temporaryFiles().isEmpty());

        QCOMPARE(m_model->phase(), u"connecting"_s);
        QCOMPARE(m_model->message(), u"Enrollment imported. Connecting to https://m.example\u2026"_s);
        QCOMPARE(m_model->status().deviceName, std::nullopt);
        QVERIFY(!m_model->hasSelection() && !m_model->selectedData() && !m_model->hasError());
        QCOMPARE(m_model->lastImport(), std::optional<QDateTime>(m_clock.now()));
        m_model->connect();
        QCOMPARE(m_fake->commandLines.size(), 1);
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
        m_fake->outcome = outcome;
        m_model->loadFile(writeProfile(u"profile.json"_s, validProfile()));
        m_model->connect();
        QTRY_VERIFY(!m_model->busy());
        QTEST(m_model->errorText(), "error");
        QVERIFY(m_model->hasSelection());
        QCOMPARE(m_model->phase(), u"not_enrolled"_s);
        QCOMPARE(m_refreshes, 0);
        QVERIFY(!m_model->lastImport());
        QVERIFY(temporaryFiles().isEmpty());
    }

    void nothingOverlapsAnImport()
    {
        QSemaphore entered;
        QSemaphore release;
        m_fake->inspect = [&](const QString &) {
            entered.release();
            release.acquire();
        };
        m_model->loadFile(writeProfile(u"first.json"_s, validProfile()));
        m_model->connect();
        entered.acquire();
        QJsonObject other = validProfile();
        other.insert(u"device_name"_s, u"other"_s);
        m_model->loadFile(writeProfile(u"other.json"_s, other));
        m_model->loadFile(m_dir.filePath(u"missing.json"_s));
        m_model->connect();
        QCOMPARE(m_model->selectedDeviceName(), u"mac-01"_s);
        QVERIFY(!m_model->hasError());
        release.release();
        QTRY_VERIFY(!m_model->busy());
        QCOMPARE(m_fake->commandLines.size(), 1);
    }

    void copyThatCannotBeWritten()
    {
        m_model->connect(); // nothing selected: nothing happens
        QVERIFY(!m_model->busy());
        m_model->loadFile(writeProfile(u"profile.json"_s, validProfile()));
        QDir(m_temporaryDirectory).removeRecursively();
        m_model->connect();
        QVERIFY(!m_model->busy());
        QCOMPARE(m_model->errorText(), u"The enrollment file could not be prepared."_s);
        QVERIFY(m_model->hasSelection());
        QVERIFY(m_fake->commandLines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEnrollmentImport)
#include "test_enrollment_import.moc"
