#include "HttpRequestParser.h"

namespace pelk::agentsim {

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

// Visible ASCII and anything above it, as a request target may hold; no blanks or controls.
bool isTargetChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7f;
}

bool isFieldValueChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return c == '\t' || (u >= 0x20 && u != 0x7f);
}

QByteArrayView trimmedBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

QByteArray normalizedPath(QByteArrayView target)
{
    qsizetype end = target.size();
    for (qsizetype i = 0; i < target.size(); ++i) {
        if (target[i] == '?' || target[i] == '#') {
            end = i;
            break;
        }
    }
    QByteArrayView path = target.first(end);
    while (path.size() > 1 && path[0] == '/' && path[1] == '/')
        path = path.sliced(1);
    return path.toByteArray();
}

} // namespace

HttpRequestParser::HttpRequestParser(Limits limits) : m_limits(std::move(limits))
{
}

HttpRequestParser::Result HttpRequestParser::fail(int status)
{
    m_state = State::Failed;
    m_errorStatus = status;
    m_buffer.clear();
    return Result::Error;
}

bool HttpRequestParser::expectsContinue() const
{
    for (const QByteArray &value : m_request.headerValues("Expect")) {
        if (value.compare("100-continue", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

HttpRequest HttpRequestParser::takeRequest()
{
    HttpRequest request = std::move(m_request);
    m_request = HttpRequest();
    m_hasHead = false;
    m_state = State::Head;
    m_scanned = 0;
    m_contentLength = 0;
    return request;
}

HttpRequestParser::Result HttpRequestParser::parse()
{
    switch (m_state) {
    case State::Failed:
        return Result::Error;
    case State::Done:
        return Result::Complete;
    case State::Head: {
        // Blank lines before a request line are tolerated, as HTTP/1.1 asks.
        while (m_buffer.startsWith("\r\n") || m_buffer.startsWith('\n'))
            m_buffer.remove(0, m_buffer.startsWith('\n') ? 1 : 2);
        // The head ends at the first empty line; lines may end in CRLF or a bare LF.
        qsizetype end = -1;
        qsizetype headLength = 0;
        for (qsizetype i = qMax<qsizetype>(m_scanned, 0); i < m_buffer.size(); ++i) {
            if (m_buffer[i] != '\n')
                continue;
            if (i + 1 < m_buffer.size() && m_buffer[i + 1] == '\n') {
                end = i + 2;
                headLength = i + 1;
                break;
            }
            if (i + 2 < m_buffer.size() && m_buffer[i + 1] == '\r' && m_buffer[i + 2] == '\n') {
                end = i + 3;
                headLength = i + 1;
                break;
            }
        }
        if (end < 0) {
            // The head ends at the earliest with the last byte but one (a "\n\r" still waiting
            // for its "\n"): only a buffer beyond that is certainly too long, however it arrives.
            if (m_buffer.size() - 1 > m_limits.maxHeadBytes)
                return fail(431);
            // The last two bytes may begin the terminator; look at them again next time.
            m_scanned = qMax<qsizetype>(0, m_buffer.size() - 2);
            return Result::NeedMore;
        }
        if (headLength > m_limits.maxHeadBytes)
            return fail(431);
        const QByteArray head = m_buffer.left(headLength);
        m_buffer.remove(0, end);
        if (const Result r = parseHead(head); r == Result::Error)
            return r;
        m_state = State::Body;
        [[fallthrough]];
    }
    case State::Body:
        if (m_buffer.size() < m_contentLength)
            return Result::NeedMore;
        m_request.body = m_buffer.left(static_cast<qsizetype>(m_contentLength));
        m_buffer.remove(0, static_cast<qsizetype>(m_contentLength));
        m_state = State::Done;
        return Result::Complete;
    }
    return Result::Error;
}

bool HttpRequestParser::parseRequestLine(QByteArrayView line)
{
    const qsizetype first = line.indexOf(' ');
    if (first <= 0)
        return false;
    const qsizetype second = line.indexOf(' ', first + 1);
    if (second <= first + 1 || line.indexOf(' ', second + 1) >= 0)
        return false;
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, second - first - 1);
    const QByteArrayView version = line.sliced(second + 1);
    if (!isToken(method) || target.front() != '/')
        return false;
    for (char c : target) {
        if (!isTargetChar(c))
            return false;
    }
    m_request.method = method.toByteArray();
    m_request.target = target.toByteArray();
    m_request.path = normalizedPath(target);
    m_request.version = version.toByteArray();
    return true;
}

HttpRequestParser::Result HttpRequestParser::parseHead(QByteArrayView head)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < head.size()) {
        qsizetype nl = head.indexOf('\n', start);
        if (nl < 0)
            nl = head.size();
        QByteArrayView line = head.sliced(start, nl - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = nl + 1;
    }
    if (lines.isEmpty() || !parseRequestLine(lines.front()))
        return fail(400);

    const QByteArrayView version = m_request.version;
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool looksLikeHttp = version.size() == 8 && version.startsWith("HTTP/") && version[6] == '.';
        return fail(looksLikeHttp ? 505 : 400);
    }
    if (lines.size() - 1 > m_limits.maxHeaderFields)
        return fail(431);

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        const qsizetype colon = line.indexOf(':');
        // Folded continuation lines and blanks before the colon are refused, as HTTP/1.1 asks.
        if (colon <= 0 || !isToken(line.first(colon)))
            return fail(400);
        const QByteArrayView value = trimmedBlanks(line.sliced(colon + 1));
        for (char c : value) {
            if (!isFieldValueChar(c))
                return fail(400);
        }
        m_request.headers.append({ line.first(colon).toByteArray(), value.toByteArray() });
    }
    m_hasHead = true;

    if (!m_request.headerValues("Transfer-Encoding").isEmpty())
        return fail(501);

    const QList<QByteArray> lengths = m_request.headerValues("Content-Length");
    m_contentLength = 0;
    if (!lengths.isEmpty()) {
        const QByteArray &text = lengths.front();
        // Digits only, no sign, no list; a value too long to count is simply too large.
        if (text.isEmpty())
            return fail(400);
        for (char c : text) {
            if (c < '0' || c > '9')
                return fail(400);
        }
        if (text.size() > 18)
            return fail(413);
        for (const QByteArray &other : lengths) {
            if (other != text)
                return fail(400);
        }
        m_contentLength = text.toLongLong();
    }
    const qint64 limit = m_limits.maxBodyBytes ? m_limits.maxBodyBytes(m_request.path) : 0;
    if (m_contentLength > limit)
        return fail(413);
    return Result::NeedMore;
}

} // namespace pelk::agentsim
