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
    };
    std::vector<Sent> sent;

    void post(const QNetworkRequest &request, const QByteArray &body, Completion done) override
    {
        sent.push_back({ request, QJsonDocument::fromJson(body).object(), std::move(done), {} });
    }
    void postForBody(const QNetworkRequest &request, const QByteArray &body, qint64, BodyCompletion done) override
    {
        sent.push_back({ request, QJsonDocument::fromJson(body).object(), {}, std::move(done) });
    }

    // Answers a request once; a body request gets a status-200 body, or nothing for every failure.
    void answer(size_t i, bool success)
    {
        if (auto done = std::exchange(sent.at(i).done, {}))
            done(success);
    }
    void answerBody(size_t i, std::optional<QByteArray> body)
    {
        if (auto done = std::exchange(sent.at(i).bodyDone, {}))
            done(std::move(body));
    }
};

} // namespace pelk::fakes
