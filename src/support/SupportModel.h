#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace pelk::support {

// What the consent and sharing window shows, and the two actions its buttons trigger.
// The derived texts are computed here so that every wording rule lives in one place.
class SupportModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString technician READ technician WRITE setTechnician NOTIFY technicianChanged)
    Q_PROPERTY(QString mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(bool busy READ busy WRITE setBusy NOTIFY busyChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(QString title READ title NOTIFY textsChanged)
    Q_PROPERTY(QString sentence READ sentence NOTIFY textsChanged)
    Q_PROPERTY(QString stopLabel READ stopLabel NOTIFY textsChanged)
    Q_PROPERTY(QString allowLabel READ allowLabel NOTIFY textsChanged)
    Q_PROPERTY(QString symbol READ symbol NOTIFY textsChanged)

public:
    explicit SupportModel(QObject *parent = nullptr);

    QString technician() const { return m_technician; }
    QString mode() const { return m_mode; }
    bool active() const { return m_active; }
    bool busy() const { return m_busy; }
    QString error() const { return m_error; }
    void setTechnician(const QString &technician);
    void setMode(const QString &mode);
    void setActive(bool active);
    void setBusy(bool busy);
    void setError(const QString &error);

    bool isControl() const;
    QString title() const;
    QString sentence() const;
    QString stopLabel() const;
    QString allowLabel() const;
    QString symbol() const;

    // The buttons' actions; they do nothing until set.
    void setActions(std::function<void()> allow, std::function<void()> stop);
    Q_INVOKABLE void allow();
    Q_INVOKABLE void stop();

Q_SIGNALS:
    void technicianChanged();
    void modeChanged();
    void activeChanged();
    void busyChanged();
    void errorChanged();
    void textsChanged();

private:
    QString m_technician;
    QString m_mode;
    bool m_active = false;
    bool m_busy = false;
    QString m_error;
    std::function<void()> m_allow;
    std::function<void()> m_stop;
};

} // namespace pelk::support
