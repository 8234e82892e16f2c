#pragma once

#include "fakes/FakeApiRequester.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSupportServices.h"
#include "support/RemoteSupportController.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>

#include <memory>

namespace pelk::testing {

// A controller wired to fakes, with its desktop state file in a temporary directory.
struct SupportFixture {
    QTemporaryDir dir;
    fakes::FakeConsoleSession session;
    fakes::FakeScreenCapture capture;
    fakes::FakeInputInjector input;
    fakes::FakeSupportWindows windows;
    fakes::FakeApiRequester requester;
    fakes::FakeClock clock;
    std::unique_ptr<support::RemoteSupportController> controller;

    SupportFixture()
    {
        controller = std::make_unique<support::RemoteSupportController>(
            support::RemoteSupportController::Services { session, capture, input, windows, windows, requester, clock },
            dir.filePath(QStringLiteral("agent-desktop.json")));
        controller->start();
    }

    qint64 now() const { return clock.now().toSecsSinceEpoch(); }

    static QJsonObject offer(
        const QString &id = QStringLiteral("s1"), const QString &mode = QStringLiteral("control"), qint64 expiresAt = 0)
    {
        return QJsonObject { { QStringLiteral("session_id"), id },
            { QStringLiteral("technician"), QStringLiteral("Dana") }, { QStringLiteral("mode"), mode },
            { QStringLiteral("expires_at"), expiresAt } };
    }

    void writeRaw(const QByteArray &bytes)
    {
        QSaveFile file(dir.filePath(QStringLiteral("agent-desktop.json")));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.commit();
    }

    // The desktop file with an offer expiring in ten minutes unless told otherwise.
    void write(std::optional<QJsonObject> support, std::optional<QJsonObject> restart = std::nullopt,
        const QString &url = QStringLiteral("http://127.0.0.1:7777"))
    {
        QJsonObject root { { QStringLiteral("url"), url }, { QStringLiteral("session"), QStringLiteral("tok") } };
        if (support) {
            if (support->value(QStringLiteral("expires_at")).toInteger() == 0)
                support->insert(QStringLiteral("expires_at"), now() + 600);
            root.insert(QStringLiteral("support"), *support);
        }
        if (restart)
            root.insert(QStringLiteral("restart"), *restart);
        writeRaw(QJsonDocument(root).toJson());
    }

    void removeFile() { QFile::remove(dir.filePath(QStringLiteral("agent-desktop.json"))); }

    QString action(size_t i) const { return requester.sent.at(i).body.value(QStringLiteral("action")).toString(); }
    QStringList actions() const
    {
        QStringList all;
        for (size_t i = 0; i < requester.sent.size(); ++i)
            all << action(i);
        return all;
    }
    void answer(size_t i, const QJsonObject &body) { requester.answerBody(i, QJsonDocument(body).toJson()); }
    static QJsonObject status(const QString &word, const QJsonArray &events = {})
    {
        QJsonObject o { { QStringLiteral("status"), word } };
        if (!events.isEmpty())
            o.insert(QStringLiteral("events"), events);
        return o;
    }

    // Offer shown, consent given and confirmed: the session is sharing, nothing in flight.
    void startSharing(const QString &mode = QStringLiteral("control"))
    {
        write(offer(QStringLiteral("s1"), mode));
        controller->tick(); // presents and polls
        answer(requester.sent.size() - 1, status(QStringLiteral("requested")));
        controller->model().allow();
        capture.answerLookup(capture.lookups.size() - 1, platform::MainDisplay { 7, QRect(0, 0, 1440, 900) });
        answer(requester.sent.size() - 1, status(QStringLiteral("active")));
    }
};

} // namespace pelk::testing
