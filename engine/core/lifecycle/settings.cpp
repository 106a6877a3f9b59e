#include "engine/core/lifecycle/settings.h"

#include <array>
#include <limits>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "common/text/strings.h"

namespace corvane::lifecycle {

namespace {

constexpr Setting text_key(std::string_view section, std::string_view key, std::string_view def)
{
    return Setting{section, key, Kind::text, def, 0};
}
constexpr Setting number_key(std::string_view section, std::string_view key, int def)
{
    return Setting{section, key, Kind::number, {}, def};
}
constexpr Setting yes_no_key(std::string_view section, std::string_view key, bool def)
{
    return Setting{section, key, Kind::yes_no, {}, def ? 1 : 0};
}
constexpr Setting password_key(std::string_view section, std::string_view key)
{
    return Setting{section, key, Kind::password, "", 0};
}

constexpr std::array settings_table{
    number_key("General", "LogLevel", 1),
    text_key("General", "MessageDateFormat", "%x %X"),
    text_key("General", "ListDateFormat", "%m/%d %H:%M"),
    number_key("General", "RedirectWait", 3),
    yes_no_key("General", "EnableReplaceFrom", true),
    number_key("General", "MaxInlineAttachSize", 20),
    yes_no_key("General", "CaseSensitivePasswords", true),
    number_key("General", "MaxLogFileSize", 5000),
    yes_no_key("General", "SendReadConfirmations", false),
    text_key("General", "GlobalAddrBookSortOrder", "Name"),
    yes_no_key("General", "VerboseSentConfirmation", false),
    // Kilobytes a compose page may upload at once.
    number_key("General", "MaxUploadSize", 65536),
    yes_no_key("UserLimits", "EnforceQuotas", false),
    number_key("UserLimits", "MaxMessages", 0),
    number_key("UserLimits", "MaxDirSize", 0),
    text_key("Directories", "BaseDir", "/opt/corvane"),
    text_key("Directories", "LogDir", "/opt/corvane/Logs"),
    text_key("Directories", "TempDir", "/opt/corvane/Temp"),
    text_key("Directories", "TemplateDir", "/opt/corvane/Templates"),
    text_key("Directories", "UserDir", "/opt/corvane/Users"),
    text_key("Directories", "SpellDir", "/opt/corvane/SpellCheck"),
    number_key("Session", "Maximum", 200),
    number_key("Session", "MaximumPerUser", 10),
    number_key("Session", "ExpireTime", 20),
    number_key("Session", "ComposeExpireTime", 120),
    // Failed logons: free failures per address and account and per address,
    // then waits from FirstDelay doubling up to MaxDelay seconds; counts
    // are forgotten ForgetTime minutes after the last failure.
    number_key("LogonThrottle", "AccountFailures", 5),
    number_key("LogonThrottle", "AddressFailures", 20),
    number_key("LogonThrottle", "FirstDelay", 1),
    number_key("LogonThrottle", "MaxDelay", 60),
    number_key("LogonThrottle", "ForgetTime", 15),
    text_key("AccountCreation", "DefDomain", ""),
    yes_no_key("AccountCreation", "Enable", true),
    password_key("AccountCreation", "Password"),
    text_key("AccountCreation", "NewEmailExe", ""),
    yes_no_key("AccountCreation", "NewUserNotification", false),
    yes_no_key("AccountCreation", "SendWelcomeMessage", false),
    password_key("AccountCreation", "NTLogonName"),
    password_key("AccountCreation", "NTPassword"),
    text_key("AccountCreation", "NTDomain", ""),
    // The mail server the engine sits beside, as it is usually reached.
    text_key("SmtpClient", "Host", "localhost"),
    number_key("SmtpClient", "Port", 25),
    text_key("SmtpClient", "HeloDomain", "Corvane"),
    yes_no_key("SmtpClient", "UseESMTP", true),
    // "No", "STARTTLS", or "Yes" for TLS from the first byte (port 465).
    text_key("SmtpClient", "TLS", "No"),
    text_key("SmtpClient", "User", ""),
    password_key("SmtpClient", "Password"),
    text_key("SmtpClient", "CAFile", ""),
    number_key("PopClient", "Timeout", 30),
    number_key("PopClient", "RetrCutoff", 4096),
    yes_no_key("PopClient", "UseReceivedDate", false),
    // A PEM file of CA certificates trusted for POP3 over TLS besides the
    // system's store (an internal CA); empty: the system's store only.
    text_key("PopClient", "CAFile", ""),
    text_key("UserDefaults", "Lang", "en"),
    text_key("UserDefaults", "Theme", "jsFrames"),
    text_key("UserDefaults", "Style", "Normal"),
    text_key("UserDefaults", "MailHost", ""),
    number_key("UserDefaults", "MailPort", 110),
    number_key("UserDefaults", "Delete", 0),
    number_key("UserDefaults", "ListRefresh", 10),
    yes_no_key("UserDefaults", "SaveSentMail", true),
    yes_no_key("UserDefaults", "EmptyTrash", false),
    text_key("UserDefaults", "Color1", "#C0C0C0"),
    text_key("UserDefaults", "Color2", "#99CCFF"),
    text_key("UserDefaults", "Color3", "#5F9EA0"),
    text_key("UserDefaults", "Color4", "#E9967A"),
    text_key("UserDefaults", "Color5", "#FAFAD2"),
    text_key("UserDefaults", "Color6", "#DDA0A0"),
    text_key("UserDefaults", "Color7", "#DDA0DD"),
    text_key("UserDefaults", "Color8", "#7FFFD4"),
    text_key("SpellCheck", "SplitWords", "de"),
    text_key("SpellCheck", "SplitContractedWords", "fr,fc,it"),
    text_key("SpellCheck", "SuggestSplitWords", "en"),
    yes_no_key("SpellCheck", "AddSingleWords", false),
};

const Setting& must_find(std::string_view section, std::string_view key)
{
    const Setting* setting = find_setting(section, key);
    // Asking for a key that is not in the table is a bug of ours.
    if (!setting)
        __builtin_trap();
    return *setting;
}

}  // namespace

std::span<const Setting> known_settings()
{
    return settings_table;
}

const Setting* find_setting(std::string_view section, std::string_view key)
{
    for (const Setting& setting : settings_table) {
        if (text::iequals(setting.section, section) && text::iequals(setting.key, key))
            return &setting;
    }
    return nullptr;
}

std::string text_setting(const ini::Profile& ini, std::string_view section, std::string_view key)
{
    return ini.text(section, key, must_find(section, key).text_default);
}

int number_setting(const ini::Profile& ini, std::string_view section, std::string_view key)
{
    return ini.number(section, key, must_find(section, key).number_default);
}

bool yes_no_setting(const ini::Profile& ini, std::string_view section, std::string_view key)
{
    return ini.yes_no(section, key, must_find(section, key).number_default != 0);
}

Directories read_directories(const ini::Profile& ini)
{
    Directories dirs;
    dirs.base = text_setting(ini, "Directories", "BaseDir");
    dirs.log = text_setting(ini, "Directories", "LogDir");
    dirs.temp = text_setting(ini, "Directories", "TempDir");
    dirs.templates = text_setting(ini, "Directories", "TemplateDir");
    dirs.users = text_setting(ini, "Directories", "UserDir");
    dirs.spelling = text_setting(ini, "Directories", "SpellDir");
    return dirs;
}

bool normalise(const ini::Profile& ini, codec::PasswordCodec& codec, log::Logger& log)
{
    bool written = ini.update([&](ini::Document& doc) {
        doc.set("Version", "Version", product_version);
        for (const Setting& setting : settings_table) {
            auto value = doc.get(setting.section, setting.key);
            std::string effective;
            switch (setting.kind) {
            case Kind::number:
                effective = std::to_string(ini::number_value(value, setting.number_default));
                break;
            case Kind::yes_no:
                effective = ini::yes_no_text(ini::yes_no_value(value, setting.number_default != 0));
                break;
            case Kind::text:
                effective = std::string(value.value_or(setting.text_default));
                break;
            case Kind::password: {
                effective = std::string(value.value_or(setting.text_default));
                if (auto scrambled = codec::scramble_if_plain(codec, effective)) {
                    if (*scrambled) {
                        effective = std::move(scrambled->value());
                    } else {
                        // Left as typed, so nothing is lost; the next start tries again.
                        log.line(log::Level::error, "Could not scramble [%.*s] %.*s: %s",
                                 static_cast<int>(setting.section.size()), setting.section.data(),
                                 static_cast<int>(setting.key.size()), setting.key.data(),
                                 scrambled->error().text.c_str());
                    }
                }
                break;
            }
            }
            doc.set(setting.section, setting.key, effective);
        }
        return true;
    });
    if (!written)
        log.line(log::Level::error, "Could not write settings to %s", ini.path().c_str());
    return written;
}

}  // namespace corvane::lifecycle
