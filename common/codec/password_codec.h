// The password codec: how passwords and credentials are kept in INI files.
//
// A stored value is "C1" followed by the unpadded Base64 of a 12-byte nonce,
// the AES-256-GCM ciphertext of the secret and the 16-byte tag, all under a
// 32-byte key in Corvane.key beside Corvane.ini. Every program of the
// product reads the same key file, so each can read what another wrote. The
// stored form uses only the Base64 alphabet and begins with "C", so it is
// never mistaken for a plain-text value ("-..."), a network logon ("\...")
// or a directory logon ("*...").
//
// The key file is created with mode 0600 the first time something is
// scrambled. A value that does not decrypt (another key, tampering, a cut
// value, plain text that never was scrambled) is an error for the caller to
// act on, usually by refusing the password.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/result.h"

namespace corvane::codec {

constexpr std::string_view key_file_name = "Corvane.key";
constexpr std::size_t key_size = 32;

// The key file that belongs to a configuration file: same directory.
std::string key_path_for(const std::string& ini_path);

class PasswordCodec {
public:
    explicit PasswordCodec(std::string key_path) : m_key_path(std::move(key_path)) {}
    const std::string& key_path() const { return m_key_path; }

    // Encrypts a secret; creates the key file when there is none yet.
    Result<std::string> scramble(std::string_view secret);
    // Decrypts a stored value; never creates the key file.
    Result<std::string> unscramble(std::string_view stored);

    // True when value looks like our stored form (it may still fail to
    // decrypt under this key).
    static bool looks_scrambled(std::string_view value);

private:
    Result<std::string> key(bool create);

    std::string m_key_path;
    std::mutex m_mutex;
    std::optional<std::string> m_key;
};

// The rule for values an administrator typed into an INI file: "-secret"
// is plain text and is returned scrambled (the caller writes it back);
// nullopt means the value is already in stored form (or is a "\" or "*"
// logon marker) and stays as it is.
std::optional<Result<std::string>> scramble_if_plain(PasswordCodec& codec, std::string_view value);

}  // namespace corvane::codec
