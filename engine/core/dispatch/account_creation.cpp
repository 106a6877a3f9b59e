#include "engine/core/dispatch/account_creation.h"

#include "common/codec/password_codec.h"
#include "common/ini/document.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/text/strings.h"
#include "engine/core/dispatch/session_keys.h"

namespace corvane::dispatch {

namespace {

// Longer stored values are not ours and are never decrypted.
constexpr std::size_t max_stored_value = 1024;

}  // namespace

std::optional<std::string> account_creation_password(const ini::Profile& settings, codec::PasswordCodec& codec,
                                                     log::Logger& log)
{
    std::string stored = settings.text("AccountCreation", "Password", "", max_stored_value + 1);
    if (stored.empty())
        return std::string();
    if (stored.size() > max_stored_value) {
        log.line(log::Level::error, "[AccountCreation] Password is not readable (too long)");
        return std::nullopt;
    }
    if (stored.front() == '-') {
        std::string clear = text::bounded(std::string_view(stored).substr(1), max_creation_password);
        if (auto scrambled = codec.scramble(clear)) {
            bool written = settings.update([&](ini::Document& doc) {
                auto now = doc.get("AccountCreation", "Password");
                return now && *now == stored && doc.set("AccountCreation", "Password", *scrambled);
            });
            if (!written)
                log.line(log::Level::error, "Could not write the scrambled [AccountCreation] Password");
        } else {
            log.line(log::Level::error, "Could not scramble [AccountCreation] Password: %s",
                     scrambled.error().text.c_str());
        }
        return clear;
    }
    auto clear = codec.unscramble(stored);
    if (!clear) {
        log.line(log::Level::error, "[AccountCreation] Password is not readable: %s", clear.error().text.c_str());
        return std::nullopt;
    }
    return text::bounded(*clear, max_creation_password);
}

CreationGate account_creation_allowed(const ini::Profile& settings, codec::PasswordCodec& codec, std::string_view typed,
                                      log::Logger& log)
{
    if (!settings.yes_no("AccountCreation", "Enable", true))
        return CreationGate::disabled;
    auto password = account_creation_password(settings, codec, log);
    if (!password)
        return CreationGate::wrong_password;
    if (password->empty())
        return CreationGate::open;
    // Exact comparison, in constant time.
    return SessionKeys::same(*password, typed) ? CreationGate::open : CreationGate::wrong_password;
}

}  // namespace corvane::dispatch
