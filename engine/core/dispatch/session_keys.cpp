#include "engine/core/dispatch/session_keys.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "common/platform/random.h"
#include "common/text/strings.h"

namespace corvane::dispatch {

SessionKeys::SessionKeys()
{
    platform::random_bytes(m_secret.data(), m_secret.size());
}

std::string SessionKeys::key_for(std::string_view session_id, std::string_view user_name) const
{
    std::string message(session_id);
    message += '\0';
    message += text::lower(user_name);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    if (!HMAC(EVP_sha256(), m_secret.data(), static_cast<int>(m_secret.size()),
              reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &digest_size) ||
        digest_size < key_length / 2)
        return {};
    static constexpr char digits[] = "0123456789abcdef";
    std::string key;
    key.reserve(key_length);
    for (std::size_t i = 0; i < key_length / 2; ++i) {
        key += digits[digest[i] >> 4];
        key += digits[digest[i] & 0x0f];
    }
    return key;
}

bool SessionKeys::matches(std::string_view session_id, std::string_view user_name, std::string_view presented) const
{
    return same(key_for(session_id, user_name), presented);
}

bool SessionKeys::same(std::string_view expected, std::string_view presented)
{
    if (expected.empty() || expected.size() != presented.size())
        return false;
    return CRYPTO_memcmp(expected.data(), presented.data(), expected.size()) == 0;
}

}  // namespace corvane::dispatch
