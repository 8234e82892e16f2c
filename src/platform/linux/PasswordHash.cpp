#include "platform/linux/PasswordHash.h"

#include <crypt.h>
#include <memory>
#include <string.h>

namespace pelk::platform::passwordhash {

namespace {

// crypt_data holds the password while hashing; it is large, so it lives on the heap and is wiped.
struct Scratch {
    crypt_data data {};
    ~Scratch() { explicit_bzero(&data, sizeof data); }
};

bool isHashText(const char *text)
{
    if (!text || text[0] != '$')
        return false;
    for (const char *c = text; *c; ++c) {
        const bool ok = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '.'
            || *c == '/' || *c == '$';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

bool hashable(const QByteArray &password)
{
    return !password.contains('\0') && password.size() < CRYPT_MAX_PASSPHRASE_SIZE;
}

std::optional<QByteArray> hash(const QByteArray &password)
{
    if (!hashable(password))
        return std::nullopt;
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // No prefix: the library's default method, with random bytes from the kernel.
    if (!crypt_gensalt_rn(nullptr, 0, nullptr, 0, setting, sizeof setting))
        return std::nullopt;
    const auto scratch = std::make_unique<Scratch>();
    const char *result = crypt_rn(password.constData(), setting, &scratch->data, sizeof scratch->data);
    if (!isHashText(result))
        return std::nullopt;
    return QByteArray(result);
}

bool matches(const QByteArray &password, const QByteArray &storedHash)
{
    if (!hashable(password) || !isHashText(storedHash.constData()) || storedHash.contains('\0'))
        return false;
    const auto scratch = std::make_unique<Scratch>();
    const char *result = crypt_rn(password.constData(), storedHash.constData(), &scratch->data, sizeof scratch->data);
    if (!isHashText(result))
        return false;
    const size_t length = strlen(result);
    if (length != size_t(storedHash.size()))
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < length; ++i)
        difference |= static_cast<unsigned char>(result[i] ^ storedHash[qsizetype(i)]);
    return difference == 0;
}

} // namespace pelk::platform::passwordhash
