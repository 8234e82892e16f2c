#pragma once

#include "platform/Clock.h"

namespace pelk::fakes {

// A clock that stands still until the test moves it.
class FakeClock final : public platform::Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 5, 1), QTime(9, 30), Qt::UTC)) : m_now(std::move(start))
    {
    }
    QDateTime now() const override { return m_now; }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }
    void advance(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};

} // namespace pelk::fakes
