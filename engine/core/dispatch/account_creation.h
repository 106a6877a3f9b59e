// The gate in front of account creation: [AccountCreation] Enable and the
// account-creation password a visitor must type to reach the NewUser page.
//
// The password is stored scrambled; a value an administrator typed as
// "-word" is scrambled and written back the first time it is read (unless
// the file changed meanwhile). An empty password means everyone may create
// an account. A stored value that cannot be read (another key, damage) is
// not taken for an empty one: it lets nobody in, and the log says why.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::ini {
class Profile;
}
namespace corvane::codec {
class PasswordCodec;
}
namespace corvane::log {
class Logger;
}

namespace corvane::dispatch {

constexpr std::size_t max_creation_password = 31;

enum class CreationGate { open, disabled, wrong_password };

// The account-creation password in clear (empty: none is required);
// nullopt when the stored value cannot be read.
std::optional<std::string> account_creation_password(const ini::Profile& settings, codec::PasswordCodec& codec,
                                                     log::Logger& log);

// Whether a visitor who typed this password may create an account.
CreationGate account_creation_allowed(const ini::Profile& settings, codec::PasswordCodec& codec, std::string_view typed,
                                      log::Logger& log);

}  // namespace corvane::dispatch
