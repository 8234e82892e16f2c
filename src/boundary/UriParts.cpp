#include "boundary/UriParts.h"

#include <QRegularExpression>

namespace pelk::boundary {

using namespace Qt::StringLiterals;

UriParts splitUri(const QString &text)
{
    static const QRegularExpression pattern(u"^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?$"_s,
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = pattern.match(text);
    UriParts parts;
    if (m.capturedStart(1) >= 0)
        parts.scheme = m.captured(2);
    if (m.capturedStart(3) >= 0)
        parts.authority = m.captured(4);
    parts.path = m.captured(5);
    parts.hasQuery = m.capturedStart(6) >= 0;
    parts.hasFragment = m.capturedStart(8) >= 0;
    return parts;
}

AuthorityParts splitAuthority(QStringView authority)
{
    AuthorityParts parts;
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        parts.userInfo = authority.left(at).toString();
        authority = authority.mid(at + 1);
    }
    qsizetype hostEnd = authority.lastIndexOf(u':');
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return parts;
        hostEnd = close + 1;
    }
    parts.host = authority.left(hostEnd < 0 ? authority.size() : hostEnd).toString();
    if (hostEnd >= 0 && hostEnd < authority.size() && authority[hostEnd] == u':')
        parts.port = authority.mid(hostEnd + 1).toString();
    return parts;
}

} // namespace pelk::boundary
