#pragma once

#include "platform/PrivilegedRunner.h"

#include <QStringList>

#include <functional>

namespace pelk::fakes {

// Answers every run with a set outcome, after letting the test look at the command line (and at
// the files it names) on the run's own thread. Tests read the record only after the run's
// completion has reached the main thread, so no lock is needed.
class FakePrivilegedRunner final : public platform::PrivilegedRunner {
public:
    Outcome outcome = Outcome::Succeeded;
    std::function<void(const QString &)> inspect;
    QStringList commandLines;

    Outcome run(const QString &commandLine) override
    {
        commandLines.append(commandLine);
        if (inspect)
            inspect(commandLine);
        return outcome;
    }
};

} // namespace pelk::fakes
