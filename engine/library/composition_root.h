// The message store wired into the running engine: every user record the
// engine loads gets its store parts, a session's user is a MailSessionUser,
// and the dispatcher's actions on the message index are StoreMailboxWork.
//
// The fixed folder names come from language strings 1 to 4 of the template
// store in the user's language; the MIME type table and [PopClient]
// UseReceivedDate from the engine while it runs.
#pragma once

#include <memory>
#include <string_view>

#include "engine/core/dispatch/engine_accounts.h"
#include "engine/core/dispatch/later_steps.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/mailstore/mail_session_user.h"
#include "engine/core/mailstore/store_parts.h"

namespace corvane::mailstore {

// The store's view of a running engine.
StoreContext engine_store_context(lifecycle::Engine& engine);

// The user record of a new session, with its store.
std::unique_ptr<sessions::SessionUser> load_session_user(const dispatch::EngineAccounts& accounts,
                                                         lifecycle::Engine& engine, std::string_view name,
                                                         log::Logger& log,
                                                         std::shared_ptr<ServerDeletion> deletion = nullptr);

// Plugs the store into the engine: the parts factory of accounts, the
// load_user hook and the dispatcher's mailbox step.
void install(const std::shared_ptr<dispatch::EngineAccounts>& accounts, lifecycle::EngineHooks& hooks,
             dispatch::LaterSteps& steps);

}  // namespace corvane::mailstore
