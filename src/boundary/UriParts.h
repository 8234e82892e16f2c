#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace pelk::boundary {

// The split of RFC 3986, appendix B, on the text exactly as written: unlike QUrl it keeps the
// scheme's case and tells an absent component from an empty one ("https://h?" has a query).
struct UriParts {
    std::optional<QString> scheme;
    std::optional<QString> authority;
    QString path;
    bool hasQuery = false;
    bool hasFragment = false;
};
UriParts splitUri(const QString &text);

// An authority's pieces: user information up to the last '@', then the host (an IP literal
// keeps its brackets; an unclosed one leaves the host empty), then the port after a ':'.
struct AuthorityParts {
    std::optional<QString> userInfo;
    QString host;
    std::optional<QString> port;
};
AuthorityParts splitAuthority(QStringView authority);

} // namespace pelk::boundary
