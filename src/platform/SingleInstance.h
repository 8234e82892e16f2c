#pragma once

#include <QObject>
#include <QStringList>

namespace pelk::platform {

// One status-bar application per session: the first launch claims it; a later launch hands
// its request to the owner and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Takes the claim; false when another process holds it (then call forward).
    virtual bool claim() = 0;
    // Asks the running instance to open files (the first of them), or to show its window
    // when there are none. False when it could not be reached.
    virtual bool forward(const QStringList &files) const = 0;

Q_SIGNALS:
    void reopenRequested();
    void openRequested(const QStringList &files);
};

} // namespace pelk::platform
