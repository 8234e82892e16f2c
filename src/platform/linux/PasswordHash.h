#pragma once

#include <QByteArray>

#include <optional>

namespace pelk::platform {

// crypt(3) for account passwords, done in this process so the plaintext never reaches a tool.
namespace passwordhash {

// Whether crypt(3) can hash the UTF-8 password whole: no NUL byte (it would silently shorten the
// password) and shorter than crypt's passphrase limit of 512 bytes (login could never check it).
bool hashable(const QByteArray &password);

// A fresh hash of the UTF-8 password in the system's default method, made only of the characters
// crypt(3) hashes use ([A-Za-z0-9./$]); nothing when the password is not hashable.
std::optional<QByteArray> hash(const QByteArray &password);

// Whether the password hashes to the stored hash; false for locked or malformed hashes.
bool matches(const QByteArray &password, const QByteArray &storedHash);

} // namespace passwordhash

} // namespace pelk::platform
