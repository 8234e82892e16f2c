#pragma once

#include "agent/LocalApi.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

#include <vector>

namespace pelk::fakes {

// Keeps every request; the test answers them when it wants, as the network would, later.
class FakeApiRequester : public agent::ApiRequester {
public:
    struct Sent {
        QNetworkRequest request;
        QJsonObject body;
        Completion done;
    };
    std::vector<Sent> sent;

    void post(const QNetworkRequest &request, const QByteArray &body, Completion done) override
    {
        sent.push_back(Sent { request, QJsonDocument::fromJson(body).object(), std::move(done) });
    }

    QString path(size_t i) const { return sent.at(i).request.url().path(); }
    void answer(size_t i, bool success)
    {
        auto done = std::move(sent.at(i).done);
        if (done)
            done(success);
    }
};

} // namespace pelk::fakes
