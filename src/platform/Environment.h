#pragma once

#include <QString>

#include <optional>

namespace pelk::platform {

// Reads the process environment; a variable that is set but empty is present.
class Environment {
public:
    virtual ~Environment() = default;
    virtual std::optional<QString> value(const char *name) const = 0;
};

// The environment this process was started with.
class ProcessEnvironment final : public Environment {
public:
    std::optional<QString> value(const char *name) const override
    {
        if (!qEnvironmentVariableIsSet(name))
            return std::nullopt;
        return qEnvironmentVariable(name);
    }
};

} // namespace pelk::platform
