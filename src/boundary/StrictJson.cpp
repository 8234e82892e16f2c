#include "boundary/StrictJson.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QTextBoundaryFinder>

#include <cmath>
#include <vector>

namespace pelk::boundary {

qsizetype graphemeCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

} // namespace pelk::boundary

namespace pelk::json {

namespace {

char unescaped(char escape)
{
    switch (escape) {
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default: // '"', '\\', '/'
        return escape;
    }
}

// The parser keeps the last of two equal keys, so two readers of one file could disagree on it
// ({"locked":true,"locked":false}). A key repeated in any object, however it is escaped, makes
// the document undecodable. Runs on text the parser accepted, yet never reads past its end.
bool repeatsAKey(const QByteArray &bytes)
{
    struct Scope {
        bool object = false;
        bool expectsKey = false;
        QSet<QString> keys;
    };
    std::vector<Scope> scopes;
    const char *text = bytes.constData();
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        switch (text[i]) {
        case '{':
            scopes.push_back({ true, true, {} });
            break;
        case '[':
            scopes.push_back({ false, false, {} });
            break;
        case '}':
        case ']':
            if (!scopes.empty())
                scopes.pop_back();
            break;
        case ',':
            if (!scopes.empty())
                scopes.back().expectsKey = scopes.back().object;
            break;
        case '"': {
            const bool isKey = !scopes.empty() && scopes.back().expectsKey;
            QString key;
            qsizetype run = ++i;
            for (; i < size && text[i] != '"'; ++i) {
                if (text[i] != '\\')
                    continue;
                if (isKey)
                    key += QString::fromUtf8(text + run, i - run);
                if (++i >= size)
                    return false;
                if (text[i] == 'u') {
                    if (i + 4 >= size)
                        return false;
                    if (isKey)
                        key += QChar(QByteArray(text + i + 1, 4).toUShort(nullptr, 16));
                    i += 4;
                } else if (isKey) {
                    key += QLatin1Char(unescaped(text[i]));
                }
                run = i + 1;
            }
            if (!isKey || i >= size)
                break;
            key += QString::fromUtf8(text + run, i - run);
            Scope &scope = scopes.back();
            if (scope.keys.contains(key))
                return true;
            scope.keys.insert(key);
            scope.expectsKey = false;
            break;
        }
        default:
            break;
        }
    }
    return false;
}

} // namespace

std::optional<QJsonObject> parseObject(const QByteArray &bytes)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject() || repeatsAKey(bytes))
        return std::nullopt;
    return document.object();
}

std::optional<qint64> strictInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    // Integers that fit are kept exactly by the parser; anything else arrives as a double.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!std::isfinite(number) || std::trunc(number) != number || number < -kTwoTo63 || number >= kTwoTo63)
        return std::nullopt;
    return static_cast<qint64>(number);
}

namespace {

std::optional<QString> asString(const QJsonValue &value)
{
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<bool> asBool(const QJsonValue &value)
{
    return value.isBool() ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<QJsonObject> asObject(const QJsonValue &value)
{
    return value.isObject() ? std::optional(value.toObject()) : std::nullopt;
}

} // namespace

StrictReader::StrictReader(QJsonObject object) : m_object(std::move(object))
{
}

template <typename Convert>
auto StrictReader::take(QLatin1StringView key, bool required, Convert convert) -> decltype(convert(QJsonValue()))
{
    if (!m_ok)
        return std::nullopt;
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull()) {
        m_ok = !required;
        return std::nullopt;
    }
    auto converted = convert(value);
    if (!converted)
        m_ok = false;
    return converted;
}

QString StrictReader::requiredString(QLatin1StringView key)
{
    return take(key, true, asString).value_or(QString());
}

std::optional<QString> StrictReader::optionalString(QLatin1StringView key)
{
    return take(key, false, asString);
}

qint64 StrictReader::requiredInteger(QLatin1StringView key)
{
    return take(key, true, strictInteger).value_or(0);
}

std::optional<qint64> StrictReader::optionalInteger(QLatin1StringView key)
{
    return take(key, false, strictInteger);
}

bool StrictReader::requiredBool(QLatin1StringView key)
{
    return take(key, true, asBool).value_or(false);
}

std::optional<bool> StrictReader::optionalBool(QLatin1StringView key)
{
    return take(key, false, asBool);
}

std::optional<QJsonObject> StrictReader::optionalObject(QLatin1StringView key)
{
    return take(key, false, asObject);
}

} // namespace pelk::json
