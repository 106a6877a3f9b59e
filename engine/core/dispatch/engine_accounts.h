// The accounts as the running engine uses them: the directory library
// loaded at start-up, the context every logon check and user record gets,
// and the user record of a session.
//
// AccountSessionUser is the full user record (accounts::UserRecord) seen
// through the session table's narrow view of a user (sessions::SessionUser).
// It lives here, above both modules, so that neither of them depends on
// the other. The parts of the record that belong to the message store
// (index, folders, mailboxes, filters) arrive through the parts factory;
// the session user that works on the mail derives from this class
// (engine/core/mailstore), so this one alone has no mail to tidy.
//
// The directory library is loaded and unloaded only by start-up and
// shut-down, which never run together with requests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/core/accounts/accounts_context.h"
#include "engine/core/accounts/directory_library.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/sessions/session_user.h"

namespace corvane::lifecycle {
struct Engine;
}

namespace corvane::dispatch {

class AccountSessionUser : public sessions::SessionUser {
public:
    explicit AccountSessionUser(std::unique_ptr<accounts::UserRecord> record);

    accounts::UserRecord& record() { return *m_record; }
    const accounts::UserRecord& record() const { return *m_record; }

    const std::string& name() const override { return m_record->name(); }
    const std::string& directory() const override { return m_record->directory(); }
    const std::string& settings_path() const override { return m_record->ini_path(); }
    std::string default_full_name() const override { return m_full_name; }
    std::string default_email() const override { return m_email; }
    std::string language() const override { return m_record->settings().language; }
    std::string theme() const override { return m_record->settings().theme; }
    bool empty_trash_on_exit() const override { return m_record->settings().empty_trash; }
    std::optional<std::int64_t> mail_size_kb() const override;
    std::optional<std::int64_t> message_count() const override;
    // Writes [Stats] MessageCount and DiskSpace (when the store knows them).
    void release() override { m_record->release(); }

private:
    std::unique_ptr<accounts::UserRecord> m_record;
    std::string m_full_name;
    std::string m_email;
};

class EngineAccounts {
public:
    EngineAccounts() = default;
    EngineAccounts(const EngineAccounts&) = delete;
    EngineAccounts& operator=(const EngineAccounts&) = delete;

    // Start-up: loads libldap; false (and the reason logged at level 1)
    // when it is missing.
    bool load_directory_library(lifecycle::Engine& engine);
    void unload_directory_library();
    const accounts::DirectoryLibrary* directory() const { return m_directory.get(); }

    // The context for a logon check or a user record; log may be null.
    accounts::AccountsContext context(const lifecycle::Engine& engine, log::Logger* log) const;

    // The user record of a new session; null when the name cannot be an
    // account (logged).
    std::unique_ptr<sessions::SessionUser> load_user(lifecycle::Engine& engine, std::string_view name,
                                                     log::Logger& log) const;

    // The store's parts of a user record (set before start-up).
    void set_parts_factory(accounts::UserPartsFactory factory) { m_parts = std::move(factory); }

private:
    std::unique_ptr<accounts::DirectoryLibrary> m_directory;
    accounts::UserPartsFactory m_parts;
};

}  // namespace corvane::dispatch
