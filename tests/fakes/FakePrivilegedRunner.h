#pragma once

#include "platform/PrivilegedRunner.h"

#include <QStringList>

#include <functional>

namespace pelk::fakes {

// Answers every run with a set outcome, after letting the test look at the program and its
// arguments (and at the files they name) on the run's own thread. Tests read the record only after the run's
// completion has reached the main thread, so no lock is needed.
class FakePrivilegedRunner final : public platform::PrivilegedRunner {
public:
    Outcome outcome = Outcome::Succeeded;
    std::function<void(const QString &, const QStringList &)> inspect;
    int runs = 0;

    Outcome run(const QString &program, const QStringList &arguments) override
    {
        ++runs;
        if (inspect)
            inspect(program, arguments);
        return outcome;
    }
};

} // namespace pelk::fakes
