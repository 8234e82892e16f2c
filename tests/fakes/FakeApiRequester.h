#pragma once

#include "boundary/LocalApi.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

#include <vector>

namespace pelk::fakes {

// Keeps every request; the test answers them when it wants, as the network would, later.
class FakeApiRequester : public boundary::ApiRequester {
public:
    struct Sent {
        QNetworkRequest request;
        QJsonObject body;
        Completion done;
        BodyCompletion bodyDone;
        qint64 maxBytes = 0;
    };
    std::vector<Sent> sent;

    void post(const QNetworkRequest &request, const QByteArray &body, Completion done) override
    {
        sent.push_back(Sent { request, QJsonDocument::fromJson(body).object(), std::move(done), {}, 0 });
    }

    void postForBody(
        const QNetworkRequest &request, const QByteArray &body, qint64 maxBytes, BodyCompletion done) override
    {
        sent.push_back(Sent { request, QJsonDocument::fromJson(body).object(), {}, std::move(done), maxBytes });
    }

    QString path(size_t i) const { return sent.at(i).request.url().path(); }
    void answer(size_t i, bool success)
    {
        auto done = std::move(sent.at(i).done);
        if (done)
            done(success);
    }
    // Answers a body request: a status-200 body, or nothing for every failure.
    void answerBody(size_t i, std::optional<QByteArray> body)
    {
        auto done = std::move(sent.at(i).bodyDone);
        if (done)
            done(std::move(body));
    }
};

} // namespace pelk::fakes
