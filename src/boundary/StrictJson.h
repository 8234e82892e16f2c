#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <utility>

namespace pelk::boundary {

// User-perceived characters (extended grapheme clusters): the unit of every length limit on
// text the agent or an enrollment file supplies.
qsizetype graphemeCount(const QString &text);

} // namespace pelk::boundary

namespace pelk::json {

// Parses one JSON document whose top level must be an object (UTF-8, nothing after it).
std::optional<QJsonObject> parseObject(const QByteArray &bytes);

// A JSON number with an integral value that fits in 64 bits; nothing for anything else.
std::optional<qint64> strictInteger(const QJsonValue &value);

// Reads the members of one JSON object under the rules every record of ours follows:
// a required member that is missing, null or of another JSON type, and an optional member
// present with another JSON type, fail the whole record; an optional member that is missing
// or null is absent. Integers must be integral and fit in 64 bits; Booleans must be JSON
// true or false. After the first failure every read returns an empty value and ok() is false.
class StrictReader {
public:
    explicit StrictReader(QJsonObject object);

    QString requiredString(QLatin1StringView key);
    std::optional<QString> optionalString(QLatin1StringView key);
    qint64 requiredInteger(QLatin1StringView key);
    std::optional<qint64> optionalInteger(QLatin1StringView key);
    bool requiredBool(QLatin1StringView key);
    std::optional<bool> optionalBool(QLatin1StringView key);
    std::optional<QJsonObject> optionalObject(QLatin1StringView key);
    // A nested record read by read(StrictReader&) under the same rules; a failure inside it
    // fails this reader too, so a record is never kept with a broken part.
    template <typename Read>
    auto optionalRecord(QLatin1StringView key, Read read)
        -> std::optional<decltype(read(std::declval<StrictReader &>()))>
    {
        const std::optional<QJsonObject> object = optionalObject(key);
        if (!object)
            return std::nullopt;
        StrictReader inner(*object);
        auto record = read(inner);
        if (!inner.ok()) {
            m_ok = false;
            return std::nullopt;
        }
        return record;
    }

    bool ok() const { return m_ok; }

private:
    // Converts the member with convert (QJsonValue -> optional<T>); a missing or null member
    // is absent (a failure when required), a member convert rejects is a failure.
    template <typename Convert>
    auto take(QLatin1StringView key, bool required, Convert convert) -> decltype(convert(QJsonValue()));

    QJsonObject m_object;
    bool m_ok = true;
};

// Decodes a whole record: parse the bytes as an object, run read(reader) and keep the result
// only if every member read held. read takes a StrictReader& and returns the record.
template <typename Read>
auto decodeRecord(const QByteArray &bytes, Read read) -> std::optional<decltype(read(std::declval<StrictReader &>()))>
{
    const std::optional<QJsonObject> object = parseObject(bytes);
    if (!object)
        return std::nullopt;
    StrictReader reader(*object);
    auto record = read(reader);
    if (!reader.ok())
        return std::nullopt;
    return record;
}

} // namespace pelk::json
