#include "recovery/RecoveryRequest.h"

#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

#include <QRegularExpression>

namespace pelk::recovery {

using namespace Qt::StringLiterals;
namespace key = boundary::key;

std::optional<RecoveryRequest> RecoveryRequest::decode(const QByteArray &bytes)
{
    return json::decodeRecord(bytes, [](json::StrictReader &r) {
        RecoveryRequest request;
        request.username = r.requiredString(key::kUsername);
        request.password = r.requiredString(key::kPassword);
        request.uid = r.requiredInteger(key::kUid);
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
