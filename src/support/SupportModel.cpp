#include "support/SupportModel.h"

namespace pelk::support {

using namespace Qt::StringLiterals;

SupportModel::SupportModel(QObject *parent) : QObject(parent), m_mode(u"view"_s)
{
    for (auto changed : { &SupportModel::technicianChanged, &SupportModel::modeChanged, &SupportModel::activeChanged,
             &SupportModel::busyChanged })
        connect(this, changed, this, &SupportModel::textsChanged);
}

void SupportModel::setTechnician(const QString &technician)
{
    if (technician == m_technician)
        return;
    m_technician = technician;
    Q_EMIT technicianChanged();
}

void SupportModel::setMode(const QString &mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    Q_EMIT modeChanged();
}

void SupportModel::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    Q_EMIT activeChanged();
}

void SupportModel::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged();
}

void SupportModel::setError(const QString &error)
{
    if (error == m_error)
        return;
    m_error = error;
    Q_EMIT errorChanged();
}

bool SupportModel::isControl() const
{
    return m_mode == u"control"_s;
}

QString SupportModel::title() const
{
    return m_active ? tr("Your screen is being shared") : tr("Remote support request");
}

// Whole sentences, so that each language orders them its own way; the technician's name is the
// agent's text and stays as it comes.
QString SupportModel::sentence() const
{
    if (m_active)
        return (isControl() ? tr("%1 can see your main display and use your keyboard and mouse.")
                            : tr("%1 can see your main display."))
            .arg(m_technician);
    return (isControl()
            ? tr("%1 is requesting permission to view your main display and control your keyboard and mouse.")
            : tr("%1 is requesting permission to view your main display."))
        .arg(m_technician);
}

QString SupportModel::stopLabel() const
{
    return m_active ? tr("Stop sharing") : tr("Decline");
}

QString SupportModel::allowLabel() const
{
    if (m_busy)
        return tr("Connecting…");
    return isControl() ? tr("Allow view and control") : tr("Allow screen sharing");
}

QString SupportModel::symbol() const
{
    return m_active ? u"display"_s : u"person.crop.circle.badge.checkmark"_s;
}

void SupportModel::setActions(std::function<void()> allow, std::function<void()> stop)
{
    m_allow = std::move(allow);
    m_stop = std::move(stop);
}

void SupportModel::allow()
{
    if (m_allow)
        m_allow();
}

void SupportModel::stop()
{
    if (m_stop)
        m_stop();
}

} // namespace pelk::support
