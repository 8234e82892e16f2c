#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace pelk::boundary {

// Tells when one of the agent's files changed, so that it is read at once rather than on the
// next poll (the polls stay as the safety net). The agent replaces its files by rename, so the
// directory is watched, not the files. The agent rewrites its files with the same bytes all
// the time: only different bytes count. A directory that goes away (the agent reinstalled) is
// watched again once it is back, checked every second.
class AgentDirectoryWatcher : public QObject {
    Q_OBJECT

public:
    explicit AgentDirectoryWatcher(QString directory, QObject *parent = nullptr);

    // Calls onChange, from the event loop, whenever the file's bytes (or its absence) differ
    // from what they were at the last look.
    void follow(const QString &path, std::function<void()> onChange);

private:
    struct Followed {
        QString path;
        std::optional<QByteArray> bytes;
        std::function<void()> onChange;
    };

    void watch();
    void look();

    const QString m_directory;
    QFileSystemWatcher m_watcher;
    QTimer m_rewatch;
    QTimer m_burst;
    std::vector<Followed> m_followed;
};

} // namespace pelk::boundary
