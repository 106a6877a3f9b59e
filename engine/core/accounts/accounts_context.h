// What the accounts need from the engine, handed in by whoever calls them
// (the running engine, the account tools, the tests).
//
// Accounts keep no process-wide state of their own: the engine's settings,
// the users directory, the password codec, the log, the loaded directory
// library and what a user record's mail needs all arrive here, so a test or
// a tool can run accounts without an engine.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::ini {
class Profile;
}
namespace corvane::codec {
class PasswordCodec;
}
namespace corvane::log {
class Logger;
}
namespace corvane::mime_types {
class MimeTypeTable;
}

namespace corvane::accounts {

class DirectoryLibrary;
class ServerDeletion;

struct AccountsContext {
    const ini::Profile* settings = nullptr;  // Corvane.ini; required
    std::string user_dir;                    // [Directories] UserDir
    codec::PasswordCodec* codec = nullptr;   // required
    log::Logger* log = nullptr;              // may be null: nothing is logged
    // The loaded directory library, or null when it is not loaded: then
    // directory logons fail as unavailable.
    const DirectoryLibrary* directory = nullptr;
    // The PAM service of network logons.
    std::string network_service = "corvane";

    // ---- what a user record's mail needs -----------------------------------
    // The names of the four fixed folders (Inbox, drafts, sent mail, Trash)
    // in a language. Empty, or fewer than four names, leave the folder list
    // empty.
    std::function<std::vector<std::string>(std::string_view language)> fixed_folders;
    // The engine's MIME type table for scanning stored mail; may be null.
    // It must outlive the records made with this context.
    const mime_types::MimeTypeTable* mime_types = nullptr;
    // Deletes waiting messages on their servers at the end of a session;
    // may be null: then they wait for the next session.
    ServerDeletion* server_deletion = nullptr;
};

}  // namespace corvane::accounts
