// fake-device-helper: stands in for the agent's device helper in tests and the demo.
//   fake-device-helper --import-enrollment ABSOLUTE_PATH --enrollment-sha256 HEX64
// Exit 0 when the file's SHA-256 equals the digest (64 lower-case hex digits), else 1; any
// other argument shape is 1. With PELK_FAKE_HELPER_LOG set, appends one JSON line per run
// to that file: {"args":[...],"file_sha256":"..."|null,"result":0|1}.
// PELK_FAKE_HELPER_EXIT forces the exit status (a helper that refuses a valid file).

#include "boundary/AgentBoundary.h"
#include "boundary/AgentFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdlib>

using namespace Qt::StringLiterals;
namespace boundary = pelk::boundary;

namespace {

constexpr const char *kLogVariable = "PELK_FAKE_HELPER_LOG";
constexpr const char *kForcedExitVariable = "PELK_FAKE_HELPER_EXIT";

bool isLowerHexDigest(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

void appendLog(const QStringList &args, const std::optional<QString> &digest, int result)
{
    const QByteArray path = qgetenv(kLogVariable);
    if (path.isEmpty())
        return;
    QFile log(QFile::decodeName(path));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QJsonObject entry { { u"args"_s, QJsonArray::fromStringList(args) },
        { u"file_sha256"_s, digest ? QJsonValue(*digest) : QJsonValue() }, { u"result"_s, result } };
    log.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    std::optional<QString> fileDigest;
    int result = 1;
    const bool shapeOk = args.size() == 4 && args[0] == boundary::kHelperImportArgument
        && args[2] == boundary::kHelperDigestArgument && args[1].startsWith(u'/') && isLowerHexDigest(args[3]);
    if (shapeOk) {
        // The same bounded, regular-files-only read the application uses: never hangs on a FIFO.
        if (const auto bytes = boundary::readAgentFile(args[1])) {
            fileDigest = QString::fromLatin1(QCryptographicHash::hash(*bytes, QCryptographicHash::Sha256).toHex());
            result = *fileDigest == args[3] ? 0 : 1;
        }
    }
    bool forced = false;
    const int forcedExit = qEnvironmentVariableIntValue(kForcedExitVariable, &forced);
    if (forced)
        result = forcedExit;
    appendLog(args, fileDigest, result);
    return result;
}
