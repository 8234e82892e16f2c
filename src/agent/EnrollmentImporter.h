#pragma once

#include "agent/Profile.h"
#include "platform/PrivilegedRunner.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pelk::platform {
class Clock;
} // namespace pelk::platform

namespace pelk::agent {

// The setup window's enrollment import: choosing a file, checking it, then handing a private
// copy to the device helper with administrator rights. The agent model owns one.
class EnrollmentImporter : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedDeviceName READ selectedDeviceName NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedBaseUrl READ selectedBaseUrl NOTIFY selectionChanged)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)

public:
    struct Collaborators {
        QString helperPath;
        // Where the private copy of an enrollment goes for the helper to read.
        QString temporaryDirectory;
        // Must outlive the importer.
        const platform::Clock *clock = nullptr;
        // Shared with the background run, which may outlast the importer.
        std::shared_ptr<platform::PrivilegedRunner> runner;
    };

    explicit EnrollmentImporter(Collaborators collaborators, QObject *parent = nullptr);

    // Asks the person for one JSON file and loads it; nothing happens when they decline.
    Q_INVOKABLE void choose();
    // How choose() asks: the desktop's file dialog in the application, a stand-in in tests.
    void setFileChooser(std::function<std::optional<QUrl>()> chooser) { m_chooser = std::move(chooser); }
    // Checks the file and selects it, or says why not in error; an earlier selection stays.
    Q_INVOKABLE void load(const QUrl &url);
    void loadFile(const QString &path);
    // Hands the selection to the device helper; returns at once.
    Q_INVOKABLE void connect();
    // Forgets the selection (the setup window's "Cancel"); error stays.
    Q_INVOKABLE void clearSelection();

    bool hasSelection() const { return m_selection.has_value(); }
    QString selectedDeviceName() const { return m_selection ? m_selection->profile.deviceName : QString(); }
    QString selectedBaseUrl() const { return m_selection ? m_selection->profile.baseURL : QString(); }
    QString errorText() const { return m_error.value_or(QString()); }
    bool hasError() const { return m_error.has_value(); }
    bool busy() const { return m_busy; }

Q_SIGNALS:
    void selectionChanged();
    void errorChanged();
    void busyChanged();
    // The helper took the enrollment for the server at baseUrl.
    void imported(const QString &baseUrl);

private:
    struct Selection {
        Profile profile;
        QByteArray bytes;
    };

    void finish(platform::PrivilegedRunner::Outcome outcome, const QString &baseUrl);
    void setSelection(std::optional<Selection> selection);
    void setError(std::optional<QString> error);
    void setBusy(bool busy);

    Collaborators m_collaborators;
    std::optional<Selection> m_selection;
    std::optional<QString> m_error;
    bool m_busy = false;
    std::function<std::optional<QUrl>()> m_chooser;
};

} // namespace pelk::agent
