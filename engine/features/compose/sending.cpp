#include "engine/features/compose/sending.h"

#include "common/codec/password_codec.h"
#include "common/ini/document.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/text/strings.h"

namespace corvane::compose {
namespace {

// Longer stored values are not ours and are never decrypted.
constexpr std::size_t kMaxStored = 1024;
constexpr std::size_t kMaxCredential = 255;

std::string relay_password(const ini::Profile& settings, codec::PasswordCodec& codec, log::Logger& log)
{
    const std::string stored = settings.text("SmtpClient", "Password", "", kMaxStored + 1);
    if (stored.empty() || stored.size() > kMaxStored)
        return {};
    if (stored.front() == '-') {
        std::string clear = text::bounded(std::string_view(stored).substr(1), kMaxCredential);
        if (auto scrambled = codec.scramble(clear)) {
            const bool written = settings.update([&](ini::Document& doc) {
                auto now = doc.get("SmtpClient", "Password");
                return now && *now == stored && doc.set("SmtpClient", "Password", *scrambled);
            });
            if (!written)
                log.message(log::Level::error, "Could not write the scrambled [SmtpClient] Password");
        }
        return clear;
    }
    auto clear = codec.unscramble(stored);
    if (!clear) {
        log.line(log::Level::error, "[SmtpClient] Password is not readable: %s", clear.error().text.c_str());
        return {};
    }
    return text::bounded(*clear, kMaxCredential);
}

}  // namespace

transport::SmtpSettings smtp_settings(const ini::Profile& settings, codec::PasswordCodec& codec, log::Logger& log)
{
    transport::SmtpSettings s;
    s.host = settings.text("SmtpClient", "Host", "mail", 127);
    s.port = settings.number("SmtpClient", "Port", 25);
    s.helo_domain = settings.text("SmtpClient", "HeloDomain", "Corvane", 127);
    s.use_esmtp = settings.yes_no("SmtpClient", "UseESMTP", true);
    s.tls = transport::smtp_tls_from_text(settings.text("SmtpClient", "TLS", "No", 15));
    s.ca_file = settings.text("SmtpClient", "CAFile", "", 4095);
    s.user = settings.text("SmtpClient", "User", "", kMaxCredential);
    if (!s.user.empty())
        s.password = relay_password(settings, codec, log);
    s.bind_address = settings.text("WebServer", "BindAddress", "0.0.0.0", 63);
    return s;
}

SendOutcome send_message(const transport::SmtpSettings& settings, const MessageFields& fields,
                         const std::string& message_path, log::Logger& log)
{
    log.message(log::Level::detail, "Sending e-mail!");
    transport::SmtpSession session(settings, log);
    SendOutcome outcome;
    outcome.sent = session.send(fields.from, fields.to + ";" + fields.cc + ";" + fields.bcc, message_path);
    outcome.result = session.result();
    outcome.reply = session.last_reply();
    return outcome;
}

}  // namespace corvane::compose
