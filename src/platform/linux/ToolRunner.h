#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace pelk::platform {

// Runs one system tool as a child process: no shell, an empty environment apart from a fixed PATH
// and the C locale, standard output and error discarded, and a time limit after which the tool
// and its process group are killed.
class ToolRunner {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout { 30000 };

    explicit ToolRunner(std::chrono::milliseconds timeout = kDefaultTimeout);

    // The tool's exit status; nothing when it could not be started, was killed by a signal or
    // ran out of time. input is its whole standard input, then end of file.
    std::optional<int> run(const QString &program, const QStringList &arguments, const QByteArray &input = {}) const;

private:
    std::chrono::milliseconds m_timeout;
};

} // namespace pelk::platform
