#include "agent/Timestamp.h"

#include <QDate>
#include <QTime>

namespace pelk::agent {

namespace {

// A cursor over the text that reads fixed-width decimal fields and literal characters.
class Scanner {
public:
    explicit Scanner(QStringView text) : m_text(text) { }

    bool digits(int count, int &value)
    {
        value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_pos >= m_text.size() || !isAsciiDigit(m_text[m_pos]))
                return false;
            value = value * 10 + (m_text[m_pos++].unicode() - u'0');
        }
        return true;
    }
    bool literal(char16_t c)
    {
        if (m_pos >= m_text.size() || m_text[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }
    bool peek(char16_t c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }
    bool peekDigit() const { return m_pos < m_text.size() && isAsciiDigit(m_text[m_pos]); }
    bool atEnd() const { return m_pos == m_text.size(); }
    QChar take() { return m_text[m_pos++]; }

private:
    static bool isAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }
    QStringView m_text;
    qsizetype m_pos = 0;
};

// Milliseconds of a fraction written after the point; extra digits are truncated.
bool fraction(Scanner &scanner, int &milliseconds)
{
    milliseconds = 0;
    int count = 0;
    while (scanner.peekDigit()) {
        const int digit = scanner.take().unicode() - u'0';
        if (count < 3)
            milliseconds = milliseconds * 10 + digit;
        ++count;
    }
    if (count == 0)
        return false;
    for (int i = count; i < 3; ++i)
        milliseconds *= 10;
    return true;
}

std::optional<QDateTime> parse(QStringView text, bool withFraction)
{
    Scanner s(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
    if (!(s.digits(4, year) && s.literal(u'-') && s.digits(2, month) && s.literal(u'-') && s.digits(2, day)
            && s.literal(u'T') && s.digits(2, hour) && s.literal(u':') && s.digits(2, minute) && s.literal(u':')
            && s.digits(2, second)))
        return std::nullopt;
    if (withFraction && !(s.literal(u'.') && fraction(s, milliseconds)))
        return std::nullopt;

    int offsetSeconds = 0;
    if (!s.literal(u'Z')) {
        const bool negative = s.peek(u'-');
        if (!s.literal(u'+') && !s.literal(u'-'))
            return std::nullopt;
        int offsetHours = 0, offsetMinutes = 0;
        if (!(s.digits(2, offsetHours) && s.literal(u':') && s.digits(2, offsetMinutes)) || offsetHours > 23
            || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 60 + offsetMinutes) * 60 * (negative ? -1 : 1);
    }
    if (!s.atEnd())
        return std::nullopt;

    const QDate date(year, month, day);
    const QTime time(hour, minute, second, milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

} // namespace

std::optional<QDateTime> timestamp(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    if (auto instant = parse(*text, true))
        return instant;
    return parse(*text, false);
}

} // namespace pelk::agent
