#pragma once

#include <QObject>
#include <QStringList>

namespace pelk::app {

// One status-bar application per session: the first launch owns a name on the session bus
// (released by the bus when the process ends, however it ends); a later launch hands its
// request to the owner and leaves. Without a session bus every launch runs on its own.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "co.pelkcore.PelkAgent")

public:
    static constexpr QLatin1StringView kServiceName { "co.pelkcore.PelkAgent" };
    static constexpr QLatin1StringView kObjectPath { "/co/pelkcore/PelkAgent" };

    explicit SingleInstance(QString serviceName = QString(kServiceName), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the name; false when another process holds it (then call forward).
    bool claim();
    // Asks the running instance to open files (the first of them), or to show its window
    // when there are none. False when it could not be reached.
    bool forward(const QStringList &files) const;

public Q_SLOTS:
    // Called over the bus by later launches.
    Q_SCRIPTABLE void Reopen();
    Q_SCRIPTABLE void Open(const QStringList &files);

Q_SIGNALS:
    void reopenRequested();
    void openRequested(const QStringList &files);

private:
    QString m_serviceName;
    bool m_owned = false;
};

} // namespace pelk::app
