#include "engine/core/dispatch/engine_accounts.h"

#include "common/log/log_file.h"
#include "common/text/strings.h"
#include "engine/core/accounts/directory_library.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"

namespace corvane::dispatch {

AccountSessionUser::AccountSessionUser(std::unique_ptr<accounts::UserRecord> record) : m_record(std::move(record))
{
    auto identity = sessions::default_mailbox_identity(m_record->profile());
    m_full_name = std::move(identity.full_name);
    m_email = std::move(identity.email);
}

std::optional<std::int64_t> AccountSessionUser::mail_size_kb() const
{
    const accounts::UserParts* parts = m_record->parts();
    auto totals = parts ? parts->mail_totals() : std::nullopt;
    if (!totals)
        return std::nullopt;
    return accounts::mail_size_kb(totals->downloaded_bytes);
}

std::optional<std::int64_t> AccountSessionUser::message_count() const
{
    const accounts::UserParts* parts = m_record->parts();
    auto totals = parts ? parts->mail_totals() : std::nullopt;
    if (!totals)
        return std::nullopt;
    return totals->message_count;
}

bool EngineAccounts::load_directory_library(lifecycle::Engine& engine)
{
    auto library = accounts::DirectoryLibrary::load();
    if (!library) {
        if (engine.log)
            engine.log->line(log::Level::detail, "LDAP client library: %s", library.error().text.c_str());
        return false;
    }
    m_directory = std::move(*library);
    if (engine.log)
        engine.log->line(log::Level::detail, "LDAP client library %s loaded", m_directory->path().c_str());
    return true;
}

void EngineAccounts::unload_directory_library()
{
    m_directory.reset();
}

accounts::AccountsContext EngineAccounts::context(const lifecycle::Engine& engine, log::Logger* log) const
{
    accounts::AccountsContext context;
    context.settings = engine.settings.get();
    context.user_dir = engine.settings ? lifecycle::text_setting(*engine.settings, "Directories", "UserDir") : "";
    context.codec = engine.codec.get();
    context.log = log;
    context.directory = m_directory.get();
    context.parts = m_parts;
    return context;
}

std::unique_ptr<sessions::SessionUser> EngineAccounts::load_user(lifecycle::Engine& engine, std::string_view name,
                                                                 log::Logger& log) const
{
    auto record = accounts::UserRecord::load(context(engine, &log), name);
    if (!record) {
        log.line(log::Level::error, "Could not load the account of %s: %s",
                 text::without_controls(text::cut(name, 79)).c_str(), record.error().text.c_str());
        return nullptr;
    }
    return std::make_unique<AccountSessionUser>(std::move(*record));
}

}  // namespace corvane::dispatch
