#pragma once

#include "HttpMessage.h"

#include <functional>

namespace pelk::agentsim {

// Reads HTTP/1.x requests from a byte stream, one after another, within fixed bounds:
// the head (request line and fields) may not exceed maxHeadBytes, the body is taken only
// with a Content-Length no larger than the limit for its path, and nothing is buffered
// beyond that. Malformed input ends in an error with the status code to answer.
class HttpRequestParser {
public:
    struct Limits {
        qsizetype maxHeadBytes = 16 * 1024;
        int maxHeaderFields = 64;
        std::function<qint64(const QByteArray &path)> maxBodyBytes;
    };
    enum class Result { NeedMore, Complete, Error };

    explicit HttpRequestParser(Limits limits);

    void append(QByteArrayView bytes) { m_buffer.append(bytes); }
    // Parses what is buffered; after Complete, takeRequest() and call parse() again for the
    // next request on the same connection. After Error the parser stays in error.
    Result parse();
    HttpRequest takeRequest();

    int errorStatus() const { return m_errorStatus; }
    bool headComplete() const { return m_state == State::Body; }
    // The head of the request being read (valid once the head was parsed, also after an
    // error found in it, such as a body that is too large).
    const HttpRequest &current() const { return m_request; }
    bool hasHead() const { return m_hasHead; }
    bool expectsContinue() const;

private:
    enum class State { Head, Body, Done, Failed };

    Result fail(int status);
    Result parseHead(QByteArrayView head);
    bool parseRequestLine(QByteArrayView line);

    Limits m_limits;
    QByteArray m_buffer;
    State m_state = State::Head;
    qsizetype m_scanned = 0; // how far the head was searched for its end
    qint64 m_contentLength = 0;
    HttpRequest m_request;
    bool m_hasHead = false;
    int m_errorStatus = 0;
};

} // namespace pelk::agentsim
