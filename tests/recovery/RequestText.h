#pragma once

#include <QJsonArray>
#include <QJsonDocument>

// The one-shot recovery mode's standard input; the uid as raw JSON text, so tests control its type.
inline QByteArray requestText(const QString &name = QStringLiteral("pelk-r-0123456789ab"),
    const QString &password = QStringLiteral("correct horse battery"), const QByteArray &uid = "501")
{
    const auto quoted = [](const QString &s) {
        return QJsonDocument(QJsonArray { s }).toJson(QJsonDocument::Compact).chopped(1).mid(1);
    };
    return "{\"username\":" + quoted(name) + ",\"password\":" + quoted(password) + ",\"uid\":" + uid + '}';
}
