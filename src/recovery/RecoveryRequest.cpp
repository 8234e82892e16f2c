#include "recovery/RecoveryRequest.h"

#include "boundary/StrictJson.h"

#include <QRegularExpression>

namespace pelk::recovery {

using namespace Qt::StringLiterals;

std::optional<RecoveryRequest> RecoveryRequest::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        RecoveryRequest request;
        request.username = r.requiredString("username"_L1);
        request.password = r.requiredString("password"_L1);
        request.uid = r.requiredInteger("uid"_L1);
        return request;
    });
}

bool RecoveryRequest::withinLimits() const
{
    if (!isRecoveryAccountName(username))
        return false;
    const qsizetype length = boundary::graphemeCount(password);
    return length >= kMinPasswordLength && length <= kMaxPasswordLength && uid >= kMinUid;
}

bool isRecoveryAccountName(const QString &name)
{
    // Anchored at both ends of the whole text: a bare "$" would also accept a trailing newline,
    // and a name with a newline must never reach the account tools.
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(u"pelk-r-[a-f0-9]{12}"_s));
    return pattern.match(name).hasMatch();
}

} // namespace pelk::recovery
