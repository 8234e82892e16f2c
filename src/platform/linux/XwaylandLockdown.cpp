#include "platform/linux/XwaylandLockdown.h"

#include <QCoreApplication>

namespace pelk::platform {

namespace {
// Mapping the lock windows and Mutter's answer to the grab take a few frames, far more under load.
constexpr auto kFirstHoldGrace = std::chrono::milliseconds(1500);
} // namespace

XwaylandLockdown::XwaylandLockdown(std::unique_ptr<DesktopLockdown> grabs, std::unique_ptr<DesktopLockdown> sessionLock,
    std::function<bool(quintptr)> hasKeyboard)
    : m_grabs(std::move(grabs)), m_sessionLock(std::move(sessionLock)), m_hasKeyboard(std::move(hasKeyboard))
{
}

void XwaylandLockdown::saveState()
{
    m_grabs->saveState();
    m_sessionLock->saveState();
    m_waitingSince = std::chrono::steady_clock::now();
}

bool XwaylandLockdown::force(quintptr keyWindow)
{
    // Grabbed first, looked at after: the focus the compositor gives with the grab is what counts.
    m_padHolds = m_grabs->force(keyWindow) && keyWindow && m_hasKeyboard(keyWindow);
    if (m_padHolds) {
        m_waitingSince.reset();
        return true;
    }
    if (m_waitingSince && std::chrono::steady_clock::now() - *m_waitingSince < kFirstHoldGrace)
        return false;
    m_waitingSince.reset();
    // Not provably in front with the keyboard: GNOME's lock screen holds until the PIN pad does.
    return m_sessionLock->force(keyWindow);
}

void XwaylandLockdown::restore()
{
    m_grabs->restore();
    m_sessionLock->restore();
}

void XwaylandLockdown::keepCovering(const QList<quintptr> &windows, std::function<void()> changed)
{
    m_grabs->keepCovering(windows, std::move(changed));
}

QList<QRect> XwaylandLockdown::screens() const
{
    return m_grabs->screens();
}

QString XwaylandLockdown::limitation() const
{
    return m_padHolds ? QString()
                      : QCoreApplication::translate("pelk::platform::XwaylandLockdown",
                          "GNOME did not give the keyboard to the PIN pad: its own lock screen stays on while the "
                          "computer is locked");
}

} // namespace pelk::platform
