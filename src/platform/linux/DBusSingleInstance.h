#pragma once

#include "platform/SingleInstance.h"

namespace pelk::platform {

// The claim is a name on the session bus (released by the bus when the process ends, however
// it ends). Without a session bus every launch runs on its own.
class DBusSingleInstance final : public SingleInstance {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "co.pelkcore.PelkAgent")

public:
    static constexpr QLatin1StringView kServiceName { "co.pelkcore.PelkAgent" };
    static constexpr QLatin1StringView kObjectPath { "/co/pelkcore/PelkAgent" };

    explicit DBusSingleInstance(QString serviceName = QString(kServiceName), QObject *parent = nullptr);
    ~DBusSingleInstance() override;

    bool claim() override;
    bool forward(const QStringList &files) const override;

public Q_SLOTS:
    // Called over the bus by later launches.
    Q_SCRIPTABLE void Reopen();
    Q_SCRIPTABLE void Open(const QStringList &files);

private:
    QString m_serviceName;
    bool m_owned = false;
};

} // namespace pelk::platform
