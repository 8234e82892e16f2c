#include "boundary/StrictJson.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QTextBoundaryFinder>

#include <cmath>

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

std::optional<QJsonObject> parseObject(const QByteArray &bytes)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
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
