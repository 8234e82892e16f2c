#pragma once

#include <QString>
#include <QStringList>

namespace pelk::platform {

// Runs one program as root, with its arguments as given (no shell), after asking for an
// administrator's credentials.
class PrivilegedRunner {
public:
    enum class Outcome { Succeeded, Cancelled, Failed };

    virtual ~PrivilegedRunner() = default;
    // Blocks until the prompt and the command are over, so it is called off the main thread.
    // Cancelled only when the person dismissed the prompt; any other failure, the command's
    // own non-zero exit status included, is Failed.
    virtual Outcome run(const QString &program, const QStringList &arguments) = 0;
};

} // namespace pelk::platform
