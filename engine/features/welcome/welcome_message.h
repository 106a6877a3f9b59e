// The welcome message of a new account: at its first session, the text of
// welcome.msg in the base directory becomes a message in the user's Inbox,
// with the placeholders <$USERNAME$>, <$FULLNAME$> and <$EMAIL$> (in any
// case) filled from the account and its default mailbox, and a Date line
// of the moment it was placed.
//
// Only when [AccountCreation] SendWelcomeMessage is on and welcome.msg
// exists; otherwise there is nothing to place, which counts as done (the
// account's first session has come, whatever the administrator chose). A
// line is cut to 259 bytes after the placeholders are filled. The message
// enters the store through the message receiver like any other, so it has
// a part list and an index entry; the index is written at once.
#pragma once

#include <string>

#include "engine/core/sessions/session_table.h"

namespace corvane::welcome {

// Longest line of the welcome message, after the placeholders are filled.
constexpr std::size_t max_welcome_line = 259;

class WelcomeMessage final : public sessions::WelcomeMessage {
public:
    // config_path: Corvane.ini, read when a message is placed.
    explicit WelcomeMessage(std::string config_path) : m_config_path(std::move(config_path)) {}
    // True when the message was placed or there is none to place; false
    // when it could not be stored (the next session tries again).
    bool place(accounts::UserRecord& user, log::Logger& log) override;

private:
    std::string m_config_path;
};

}  // namespace corvane::welcome
