#include "engine/core/mailstore/engine_wiring.h"

#include "common/text/strings.h"
#include "engine/core/mailstore/mailbox_actions.h"
#include "engine/core/templates/template_store.h"

namespace corvane::mailstore {

namespace {

// Language strings 1 to 4: Inbox, drafts, sent mail, Trash.
constexpr int first_folder_string = 1;
constexpr int fixed_folder_count = 4;
constexpr std::size_t max_logged_name = 79;

}  // namespace

StoreContext engine_store_context(lifecycle::Engine& engine)
{
    StoreContext context;
    context.settings = engine.settings.get();
    context.codec = engine.codec.get();
    lifecycle::Engine* e = &engine;
    // The parts keep this as long as the session lives, so it holds on to
    // nothing shorter-lived than the engine.
    context.fixed_folders = [e](std::string_view language) {
        std::vector<std::string> names;
        auto* store = static_cast<templates::TemplateStore*>(e->template_store.get());
        if (!store)
            return names;
        log::RequestLog out(e->log.get());
        for (int i = 0; i < fixed_folder_count; ++i)
            names.push_back(store->language_string(first_folder_string + i, language, out));
        return names;
    };
    context.mime_types = [e]() -> const mime_types::MimeTypeTable* { return e->mime_types.get(); };
    return context;
}

std::unique_ptr<sessions::SessionUser> load_session_user(const dispatch::EngineAccounts& accounts,
                                                         lifecycle::Engine& engine, std::string_view name,
                                                         log::Logger& log, std::shared_ptr<ServerDeletion> deletion)
{
    auto record = accounts::UserRecord::load(accounts.context(engine, &log), name);
    if (!record) {
        log.line(log::Level::error, "Could not load the account of %s: %s",
                 text::without_controls(text::cut(name, max_logged_name)).c_str(), record.error().text.c_str());
        return nullptr;
    }
    auto user = std::make_unique<MailSessionUser>(std::move(*record), std::move(deletion));
    if (StoreParts* parts = user->parts()) {
        if (parts->store() && parts->store()->folders().empty())
            log.line(log::Level::error,
                     "The folders of %s cannot be listed: the language %s names no usable fixed folders",
                     user->name().c_str(), user->language().c_str());
    }
    return user;
}

void install(const std::shared_ptr<dispatch::EngineAccounts>& accounts, lifecycle::EngineHooks& hooks,
             dispatch::LaterSteps& steps)
{
    // Every record the engine loads gets its store: a session's, and those
    // of administrative calls and account creation.
    accounts->set_parts_factory([]() -> std::unique_ptr<accounts::UserParts> {
        return std::make_unique<StoreParts>(engine_store_context(lifecycle::engine()));
    });
    hooks.load_user = [accounts](lifecycle::Engine& engine, std::string_view name, log::Logger& log) {
        return load_session_user(*accounts, engine, name, log);
    };
    steps.mailbox = std::make_shared<StoreMailboxWork>();
}

}  // namespace corvane::mailstore
