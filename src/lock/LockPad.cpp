#include "lock/LockPad.h"

#include "lock/PinInput.h"

#include <QPointer>

namespace pelk::lock {

LockPad::LockPad(QString message, PinSubmit submit, QObject *parent)
    : QObject(parent), m_message(std::move(message)), m_submit(std::move(submit))
{
}

int LockPad::minLength() const
{
    return kMinPinLength;
}

int LockPad::maxLength() const
{
    return kMaxPinLength;
}

QString LockPad::filter(const QString &typed) const
{
    return filterPin(typed);
}

int LockPad::length(const QString &pin) const
{
    return pinLength(pin);
}

QString LockPad::dropLast(const QString &pin) const
{
    return dropLastPinCharacter(pin);
}

void LockPad::submit(const QString &pin)
{
    const QString clean = filterPin(pin);
    if (m_waiting || pinLength(clean) < kMinPinLength || !m_submit)
        return;
    m_waiting = true;
    QPointer<LockPad> self(this);
    m_submit(clean, [self](bool accepted) {
        // The window may have been rebuilt meanwhile; its pad is then gone and hears nothing.
        if (!self)
            return;
        self->m_waiting = false;
        Q_EMIT self->answered(accepted);
    });
}

} // namespace pelk::lock
