#include "engine/features/welcome/welcome_message.h"

#include "common/ini/profile.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/features/compose/message_builder.h"
#include "engine/store/receiver/message_receiver.h"

namespace corvane::welcome {

namespace {

// A welcome text is a page of prose, not a mailbox.
constexpr std::size_t max_welcome_file = 1u << 20;

std::string replace_nocase(std::string_view line, std::string_view placeholder, std::string_view value)
{
    std::string out;
    std::size_t from = 0;
    for (;;) {
        std::size_t at = text::ifind(line, placeholder, from);
        if (at == std::string_view::npos)
            break;
        out.append(line.substr(from, at - from));
        out.append(value);
        from = at + placeholder.size();
    }
    out.append(line.substr(from));
    return out;
}

}  // namespace

bool WelcomeMessage::place(accounts::UserRecord& user, log::Logger& log)
{
    ini::Profile settings(m_config_path);
    if (!settings.yes_no("AccountCreation", "SendWelcomeMessage", false))
        return true;
    const std::string base = settings.text("Directories", "BaseDir", "/opt/corvane");
    auto text_file = platform::read_file(platform::path_nocase(base, "welcome.msg"), max_welcome_file);
    if (!text_file)
        return true;
    store::UserMail& mail = user.mail();
    const std::string* inbox = mail.folders().inbox();
    if (!inbox) {
        log.line(log::Level::error, "Could not place the welcome message for %s: no Inbox", user.name().c_str());
        return false;
    }

    // Placeholder values come from User.ini: no control character may
    // split a line of the message.
    const auto& mailbox = user.default_mailbox();
    const std::string full_name = text::without_controls(mailbox.full_name);
    const std::string email = text::without_controls(mailbox.email);
    const std::string name = text::without_controls(user.name());

    receiver::MessageReceiver receiver(mail.index(), *inbox, user.receiver_options());
    receiver.begin(0, receiver::StoreMode::whole);
    std::size_t total = receiver.line("Date: " + compose::format_mail_date(platform::now()));
    std::string_view rest = *text_file;
    while (!rest.empty()) {
        std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string filled = replace_nocase(line, "<$USERNAME$>", name);
        filled = replace_nocase(filled, "<$FULLNAME$>", full_name);
        filled = replace_nocase(filled, "<$EMAIL$>", email);
        total += receiver.line(text::cut(filled, max_welcome_line));
    }
    store::MessageEntry* entry = receiver.finish();
    if (!entry || !entry->has(store::flags::downloaded)) {
        log.line(log::Level::error, "Could not place the welcome message for %s", user.name().c_str());
        return false;
    }
    entry->size = static_cast<std::uint32_t>(total);
    mail.index().mark_dirty();
    if (!mail.index().save())
        log.line(log::Level::error, "Could not write the message index of %s", user.name().c_str());
    return true;
}

}  // namespace corvane::welcome
