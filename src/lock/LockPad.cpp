#include "lock/LockPad.h"

#include <QList>
#include <QPointer>

#include <utility>

#include <unicode/uchar.h>

namespace pelk::lock {

namespace {

constexpr int kMinPinLength = 6;
constexpr int kMaxPinLength = 12;

bool isNumber(uint codePoint)
{
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

} // namespace

LockPad::LockPad(QString message, PinSubmit submit, QObject *parent)
    : QObject(parent), m_message(std::move(message)), m_submit(std::move(submit))
{
}

QString LockPad::filter(const QString &typed) const
{
    QList<char32_t> kept;
    // Unpaired surrogates come back as U+FFFD, which is no number.
    for (const uint c : typed.toUcs4()) {
        if (kept.size() == kMaxPinLength)
            break;
        if (isNumber(c))
            kept.append(static_cast<char32_t>(c));
    }
    return QString::fromUcs4(kept.constData(), kept.size());
}

int LockPad::length(const QString &pin) const
{
    return static_cast<int>(pin.toUcs4().size());
}

bool LockPad::complete(const QString &pin) const
{
    return length(pin) >= kMinPinLength;
}

void LockPad::submit(const QString &pin)
{
    const QString clean = filter(pin);
    if (m_busy || !complete(clean))
        return;
    setBusy(true);
    QPointer<LockPad> self(this);
    m_submit(clean, [self](bool accepted) {
        // The window may have been rebuilt meanwhile; its pad is then gone and hears nothing.
        if (!self)
            return;
        self->setBusy(false);
        Q_EMIT self->answered(accepted);
    });
}

void LockPad::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged();
}

void LockPad::setInputHeld(bool held)
{
    if (std::exchange(m_inputHeld, held) != held)
        Q_EMIT inputHeldChanged();
}

} // namespace pelk::lock
