#pragma once

#include "lock/LockScreens.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace pelk::lock {

// What one lock window's view talks to: its message, the PIN rules, and the way out
// (submit), whose answer comes back as answered(). Each window has its own pad.
//
// A PIN is 6 to 12 characters that are numbers in the Unicode sense (numeric type decimal,
// digit or numeric: other scripts' digits and fractions such as ½ count); characters are
// whole code points.
class LockPad : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the lock controller")
    Q_PROPERTY(QString message READ message CONSTANT)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool inputHeld READ inputHeld NOTIFY inputHeldChanged)

public:
    LockPad(QString message, PinSubmit submit, QObject *parent = nullptr);

    QString message() const { return m_message; }
    // A PIN was sent and its answer has not come yet.
    bool busy() const { return m_busy; }
    // The lock holds the keyboard and pointer: only then is there a pad to type on.
    bool inputHeld() const { return m_inputHeld; }
    void setInputHeld(bool held);

    // The numbers of typed, in order, at most the first twelve.
    Q_INVOKABLE QString filter(const QString &typed) const;
    // The number of characters of a filtered PIN.
    Q_INVOKABLE int length(const QString &pin) const;
    // Whether a filtered PIN is long enough to be sent.
    Q_INVOKABLE bool complete(const QString &pin) const;
    // Sends the filtered PIN unless it is not complete or the pad is busy.
    Q_INVOKABLE void submit(const QString &pin);

Q_SIGNALS:
    void busyChanged();
    void inputHeldChanged();
    void answered(bool accepted);

private:
    void setBusy(bool busy);

    QString m_message;
    PinSubmit m_submit;
    bool m_busy = false;
    bool m_inputHeld = false;
};

} // namespace pelk::lock
