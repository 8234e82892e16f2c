#pragma once

#include "platform/Environment.h"

#include <QHash>

namespace pelk::fakes {

// An environment the test writes.
class FakeEnvironment final : public platform::Environment {
public:
    QHash<QByteArray, QString> values;

    std::optional<QString> value(const char *name) const override
    {
        const auto it = values.constFind(name);
        return it == values.constEnd() ? std::nullopt : std::optional(*it);
    }
};

} // namespace pelk::fakes
