#pragma once

#include "fakes/FakeApiRequester.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSupportServices.h"
#include "support/RemoteSupportController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

namespace pelk::testing {

using namespace Qt::StringLiterals;

// A started controller wired to fakes, its desktop state file in a temporary directory; a test
// may bring its own requester and file instead.
struct SupportFixture {
    QTemporaryDir dir;
    fakes::FakeConsoleSession session;
    fakes::FakeScreenCapture capture;
    fakes::FakeInputInjector input;
    fakes::FakeSupportWindows windows;
    fakes::FakeApiRequester requester;
    fakes::FakeClock clock;
    support::RemoteSupportController controller;

    explicit SupportFixture(boundary::ApiRequester *api = nullptr, const QString &file = {})
        : controller({ session, capture, input, windows, windows, api ? *api : requester, clock },
            file.isEmpty() ? dir.filePath(u"desktop.json"_s) : file)
    {
        controller.start();
    }

    // JSON written with single quotes, for short tables.
    static QJsonObject json(const char *text)
    {
        return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
    }
    static QJsonObject offer(const QString &id = u"s1"_s, const QString &mode = u"control"_s)
    {
        return { { "session_id"_L1, id }, { "technician"_L1, u"Dana"_s }, { "mode"_L1, mode } };
    }
    // The desktop file; an offer expires in ten minutes.
    void write(std::optional<QJsonObject> support, const QJsonObject &restart = {},
        const QString &url = u"http://127.0.0.1:7777"_s)
    {
        QJsonObject root { { "url"_L1, url }, { "session"_L1, u"tok"_s } };
        if (support) {
            support->insert("expires_at"_L1, clock.now().toSecsSinceEpoch() + 600);
            root.insert("support"_L1, *support);
        }
        if (!restart.isEmpty())
            root.insert("restart"_L1, restart);
        writeRaw(QJsonDocument(root).toJson());
    }
    void writeRaw(const QByteArray &bytes)
    {
        QSaveFile file(dir.filePath(u"desktop.json"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit());
    }

    QStringList actions() const
    {
        QStringList all;
        for (const auto &sent : requester.sent)
            all << sent.body.value("action"_L1).toString();
        return all;
    }
    // Answers the latest request with a status word and events.
    void answer(const QString &status, const QJsonArray &events = {})
    {
        const QJsonObject body { { "status"_L1, status }, { "events"_L1, events } };
        requester.answerBody(requester.sent.size() - 1, QJsonDocument(body).toJson());
    }

    // Offer shown, consent given and confirmed: sharing, nothing in flight.
    void startSharing(const QString &mode = u"control"_s)
    {
        write(offer(u"s1"_s, mode));
        controller.tick();
        answer(u"requested"_s);
        controller.model().allow();
        capture.answerLookup(capture.lookups.size() - 1, platform::MainDisplay { 7, QRect(0, 0, 1440, 900) });
        answer(u"active"_s);
    }
    // One frame goes out and the agent's answer carries these events.
    void frame(const QJsonArray &events)
    {
        controller.tick();
        capture.answerCapture(capture.captures.size() - 1, QByteArray("jpeg"));
        answer(u"active"_s, events);
    }
};

} // namespace pelk::testing
