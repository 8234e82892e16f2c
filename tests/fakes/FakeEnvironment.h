#pragma once

#include "platform/Environment.h"

#include <QHash>

namespace pelk::fakes {

// An environment the test writes.
class FakeEnvironment final : public platform::Environment {
public:
    std::optional<QString> value(const char *name) const override
    {
        const auto it = m_values.constFind(QString::fromLatin1(name));
        if (it == m_values.constEnd())
            return std::nullopt;
        return *it;
    }
    void set(const char *name, const QString &value) { m_values.insert(QString::fromLatin1(name), value); }
    void unset(const char *name) { m_values.remove(QString::fromLatin1(name)); }

private:
    QHash<QString, QString> m_values;
};

} // namespace pelk::fakes
