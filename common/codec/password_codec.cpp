#include "common/codec/password_codec.h"

#include <openssl/evp.h>

#include <cerrno>
#include <memory>

#include "common/platform/files.h"
#include "common/platform/random.h"
#include "common/text/base64.h"

namespace corvane::codec {

namespace fs = corvane::platform;

namespace {

constexpr std::string_view version_tag = "C1";
constexpr std::size_t nonce_size = 12;
constexpr std::size_t tag_size = 16;
// Secrets longer than this are not passwords; refusing them keeps stored
// values short enough for every INI reader.
constexpr std::size_t max_secret = 4096;

struct CipherDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter>;

const unsigned char* bytes(std::string_view s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Creates the key file without ever exposing a partial key: the key is
// written to a file without a name and linked into place, and the link
// fails if another process got there first, in which case theirs is used.
Result<void> create_key_file(const std::string& path)
{
    auto file = fs::UnpublishedFile::create(fs::directory_of(path), fs::file_name_of(path), 0600);
    if (!file)
        return file.error();
    unsigned char key[key_size];
    fs::random_bytes(key, sizeof key);
    if (auto written = fs::write_all(file->fd(), {reinterpret_cast<const char*>(key), sizeof key}); !written)
        return written;
    if (auto flushed = fs::flush_to_disk(file->fd()); !flushed)
        return flushed;
    auto published = file->publish(path, fs::Replace::no);
    if (!published && published.error().code != EEXIST)
        return published;
    return {};
}

}  // namespace

std::string key_path_for(const std::string& ini_path)
{
    return fs::join_path(fs::directory_of(ini_path), key_file_name);
}

Result<std::string> PasswordCodec::key(bool create)
{
    std::lock_guard lock(m_mutex);
    if (m_key)
        return *m_key;
    if (create && !fs::exists(m_key_path)) {
        auto made = create_key_file(m_key_path);
        if (!made)
            return made.error();
    }
    auto data = fs::read_file(m_key_path, 1024);
    if (!data)
        return data.error();
    if (data->size() != key_size)
        return Error{EINVAL, "key file " + m_key_path + " is damaged (" + std::to_string(data->size()) + " bytes)"};
    m_key = *data;
    return *m_key;
}

bool PasswordCodec::looks_scrambled(std::string_view value)
{
    return value.size() > version_tag.size() && value.substr(0, version_tag.size()) == version_tag &&
           text::is_base64_alphabet(value.substr(version_tag.size()));
}

Result<std::string> PasswordCodec::scramble(std::string_view secret)
{
    if (secret.size() > max_secret)
        return Error{EMSGSIZE, "secret too long"};
    auto k = key(true);
    if (!k)
        return k.error();
    std::string blob(nonce_size + secret.size() + tag_size, '\0');
    auto* out = reinterpret_cast<unsigned char*>(blob.data());
    fs::random_bytes(out, nonce_size);
    CipherContext ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    bool ok =
        ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, nonce_size, nullptr) == 1 &&
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, bytes(*k), out) == 1 &&
        EVP_EncryptUpdate(ctx.get(), out + nonce_size, &len, bytes(secret), static_cast<int>(secret.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx.get(), out + nonce_size + len, &len) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, tag_size, out + nonce_size + secret.size()) == 1;
    if (!ok)
        return Error{EIO, "encryption failed"};
    return std::string(version_tag) + text::base64_encode(blob, text::Padding::without);
}

Result<std::string> PasswordCodec::unscramble(std::string_view stored)
{
    if (!looks_scrambled(stored))
        return Error{EINVAL, "not a scrambled value"};
    auto blob = text::base64_decode(stored.substr(version_tag.size()));
    if (!blob || blob->size() < nonce_size + tag_size)
        return Error{EINVAL, "scrambled value is cut or damaged"};
    auto k = key(false);
    if (!k)
        return k.error();
    std::size_t secret_size = blob->size() - nonce_size - tag_size;
    const auto* in = bytes(*blob);
    std::string secret(secret_size, '\0');
    auto* out = reinterpret_cast<unsigned char*>(secret.data());
    std::string tag(blob->substr(nonce_size + secret_size));
    CipherContext ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, nonce_size, nullptr) == 1 &&
              EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, bytes(*k), in) == 1 &&
              EVP_DecryptUpdate(ctx.get(), out, &len, in + nonce_size, static_cast<int>(secret_size)) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, tag_size, tag.data()) == 1 &&
              EVP_DecryptFinal_ex(ctx.get(), out + len, &len) == 1;
    if (!ok)
        return Error{EBADMSG, "scrambled value does not decrypt with " + m_key_path};
    return secret;
}

std::optional<Result<std::string>> scramble_if_plain(PasswordCodec& codec, std::string_view value)
{
    if (value.empty() || value[0] != '-')
        return std::nullopt;
    return codec.scramble(value.substr(1));
}

}  // namespace corvane::codec
