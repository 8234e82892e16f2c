#pragma once

#include "lock/LockScreens.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace pelk::lock {

// What one lock window's view talks to: its message, the PIN rules, and the way out
// (submit), whose answer comes back as answered(). Each window has its own pad.
class LockPad : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the lock controller")
    Q_PROPERTY(QString message READ message CONSTANT)
    Q_PROPERTY(int minLength READ minLength CONSTANT)
    Q_PROPERTY(int maxLength READ maxLength CONSTANT)

public:
    LockPad(QString message, PinSubmit submit, QObject *parent = nullptr);

    QString message() const { return m_message; }
    int minLength() const;
    int maxLength() const;

    Q_INVOKABLE QString filter(const QString &typed) const;
    Q_INVOKABLE int length(const QString &pin) const;
    Q_INVOKABLE QString dropLast(const QString &pin) const;
    // Sends the PIN unless it is too short or an answer is still outstanding.
    Q_INVOKABLE void submit(const QString &pin);

Q_SIGNALS:
    void answered(bool accepted);

private:
    QString m_message;
    PinSubmit m_submit;
    bool m_waiting = false;
};

} // namespace pelk::lock
