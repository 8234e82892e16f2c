#pragma once

#include <QByteArray>

// The one-shot recovery mode's standard input, written by hand so tests control every byte.
inline QByteArray jsonString(const QByteArray &utf8)
{
    QByteArray out = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (uchar(c) < 0x20)
            out += "\\u" + QByteArray::number(uchar(c), 16).rightJustified(4, '0');
        else
            out += c;
    }
    return out + '"';
}

inline QByteArray requestText(const QByteArray &name, const QByteArray &password, const QByteArray &uid = "501")
{
    return "{\"username\":" + jsonString(name) + ",\"password\":" + jsonString(password) + ",\"uid\":" + uid + '}';
}
