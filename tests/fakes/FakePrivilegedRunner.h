#pragma once

#include "platform/PrivilegedRunner.h"

#include <QMutex>
#include <QStringList>
#include <QThread>

#include <functional>

namespace pelk::fakes {

// Answers every run with a set outcome, after letting the test look at the command line
// (and at the files it names) on the thread the run came on.
class FakePrivilegedRunner final : public platform::PrivilegedRunner {
public:
    explicit FakePrivilegedRunner(Outcome outcome = Outcome::Succeeded) : m_outcome(outcome) { }

    Outcome run(const QString &commandLine) override
    {
        const QMutexLocker lock(&m_mutex);
        m_commandLines.append(commandLine);
        m_thread = QThread::currentThread();
        if (m_inspect)
            m_inspect(commandLine);
        return m_outcome;
    }

    void setOutcome(Outcome outcome)
    {
        const QMutexLocker lock(&m_mutex);
        m_outcome = outcome;
    }
    // Called on the run's thread, while the run is in progress.
    void setInspect(std::function<void(const QString &)> inspect)
    {
        const QMutexLocker lock(&m_mutex);
        m_inspect = std::move(inspect);
    }
    QStringList commandLines() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_commandLines;
    }
    QThread *thread() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_thread;
    }

private:
    mutable QMutex m_mutex;
    Outcome m_outcome;
    std::function<void(const QString &)> m_inspect;
    QStringList m_commandLines;
    QThread *m_thread = nullptr;
};

} // namespace pelk::fakes
