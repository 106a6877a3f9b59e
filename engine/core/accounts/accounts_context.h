// What the accounts need from the engine, handed in by whoever calls them
// (the session table, the administrative exports, the account tools).
//
// Accounts keep no process-wide state of their own: the engine's settings,
// the users directory, the password codec, the log and the loaded
// directory library all arrive here, so a test or a tool can run accounts
// without an engine.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace corvane::ini {
class Profile;
}
namespace corvane::codec {
class PasswordCodec;
}
namespace corvane::log {
class Logger;
}

namespace corvane::accounts {

class DirectoryLibrary;
class UserParts;

// Makes the parts of a user record that other modules own (message store,
// address book, folder list, mailbox records, filters); see user_record.h.
using UserPartsFactory = std::function<std::unique_ptr<UserParts>()>;

struct AccountsContext {
    const ini::Profile* settings = nullptr;  // Corvane.ini; required
    std::string user_dir;                    // [Directories] UserDir
    codec::PasswordCodec* codec = nullptr;   // required
    log::Logger* log = nullptr;              // may be null: nothing is logged
    // The loaded directory library, or null when it is not loaded: then
    // directory logons fail as unavailable.
    const DirectoryLibrary* directory = nullptr;
    // May be empty: records then have no parts.
    UserPartsFactory parts;
    // The PAM service of network logons.
    std::string network_service = "corvane";
};

}  // namespace corvane::accounts
