#include "boundary/AgentDirectoryWatcher.h"

#include "boundary/AgentFile.h"

namespace pelk::boundary {

namespace {
constexpr int kRewatchIntervalMs = 1000;
}

AgentDirectoryWatcher::AgentDirectoryWatcher(QString directory, QObject *parent)
    : QObject(parent), m_directory(std::move(directory))
{
    // A rename is several events: they are looked at once, together.
    m_burst.setSingleShot(true);
    m_burst.setInterval(0);
    connect(&m_burst, &QTimer::timeout, this, &AgentDirectoryWatcher::look);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_burst, qOverload<>(&QTimer::start));
    m_rewatch.setInterval(kRewatchIntervalMs);
    connect(&m_rewatch, &QTimer::timeout, this, &AgentDirectoryWatcher::watch);
    m_rewatch.start();
    watch();
}

void AgentDirectoryWatcher::follow(const QString &path, std::function<void()> onChange)
{
    m_followed.push_back({ path, readAgentFile(path), std::move(onChange) });
}

void AgentDirectoryWatcher::watch()
{
    // inotify forgets a directory that was removed; the watcher then lists it no more.
    if (!m_watcher.directories().isEmpty())
        return;
    if (m_watcher.addPath(m_directory))
        m_burst.start(); // files may have come with the directory
}

void AgentDirectoryWatcher::look()
{
    for (size_t i = 0; i < m_followed.size(); ++i) {
        std::optional<QByteArray> bytes = readAgentFile(m_followed[i].path);
        if (bytes == m_followed[i].bytes)
            continue;
        m_followed[i].bytes = std::move(bytes);
        m_followed[i].onChange(); // by index: a callback may follow another file
    }
}

} // namespace pelk::boundary
