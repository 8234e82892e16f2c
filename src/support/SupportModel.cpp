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
    return m_active ? u"Your screen is being shared"_s : u"Remote support request"_s;
}

QString SupportModel::sentence() const
{
    if (m_active)
        return m_technician + u" can "_s
            + (isControl() ? u"see your main display and use your keyboard and mouse"_s : u"see your main display"_s)
            + u'.';
    return m_technician + u" is requesting permission to "_s
        + (isControl() ? u"view your main display and control your keyboard and mouse"_s : u"view your main display"_s)
        + u'.';
}

QString SupportModel::stopLabel() const
{
    return m_active ? u"Stop sharing"_s : u"Decline"_s;
}

QString SupportModel::allowLabel() const
{
    if (m_busy)
        return u"Connecting\u2026"_s;
    return u"Allow "_s + (isControl() ? u"view and control"_s : u"screen sharing"_s);
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
