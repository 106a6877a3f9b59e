// The binary interface of Corvane.so: the CGI entry points a web server
// binds by name, and the administrative exports. Everything else in the
// library is hidden.
//
// The account exports (CVUserCreate, CVUserExists, CVUserRename,
// CVGetUserDiskSpace) answer "no" until the account functions are built, so
// programs that bind the whole interface load already.
#include <cstdlib>
#include <string>

#include "common/ini/profile.h"
#include "common/platform/dynamic_library.h"
#include "common/platform/files.h"
#include "engine/core/dispatch/dispatcher.h"
#include "engine/core/dispatch/engine_accounts.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/mailstore/engine_wiring.h"
#include "engine/core/templates/languages.h"
#include "engine/core/templates/template_store.h"

#define CORVANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The modules built on the engine plug in here, once, when the library is
// loaded: the request dispatcher with lifecycle::set_request_handler(), and
// the start-up steps they own with lifecycle::set_hooks(). A step left
// empty reports its library or file as missing (the spelling library, until
// it is built).
void register_modules()
{
    namespace lifecycle = corvane::lifecycle;
    namespace dispatch = corvane::dispatch;
    namespace templates = corvane::templates;

    auto accounts = std::make_shared<dispatch::EngineAccounts>();
    lifecycle::EngineHooks hooks;
    hooks.verify_languages = [](lifecycle::Engine& engine, const std::string& languages_ini) {
        bool english_translation = engine.settings->yes_no("Special", "EnglishTranslation", false);
        templates::verify_languages(corvane::platform::directory_of(languages_ini), english_translation, *engine.log);
    };
    hooks.create_template_store = [](lifecycle::Engine& engine) -> std::shared_ptr<void> {
        return std::make_shared<templates::TemplateStore>(
            lifecycle::text_setting(*engine.settings, "Directories", "TemplateDir"));
    };
    hooks.load_directory_library = [accounts](lifecycle::Engine& engine) {
        return accounts->load_directory_library(engine);
    };
    hooks.unload_directory_library = [accounts](lifecycle::Engine&) { accounts->unload_directory_library(); };
    // The session's user is the full user record of its account with its
    // message store (engine/core/mailstore, above the dispatcher, the
    // accounts and the store); the dispatcher's actions on the message
    // index come from there too.
    dispatch::LaterSteps steps;
    corvane::mailstore::install(accounts, hooks, steps);
    lifecycle::set_hooks(std::move(hooks));
    lifecycle::set_request_handler(std::make_shared<dispatch::Dispatcher>(accounts, std::move(steps)));
}

// Library attach: Corvane.ini lies beside the library unless CORVANE_INI
// (an absolute path) names another.
__attribute__((constructor)) void attach()
{
    namespace fs = corvane::platform;
    const char* configured = std::getenv("CORVANE_INI");
    if (configured && configured[0] == '/') {
        corvane::lifecycle::set_config_path(configured);
    } else {
        std::string library = fs::module_path_of(reinterpret_cast<const void*>(&attach));
        corvane::lifecycle::set_config_path(fs::join_path(fs::directory_of(library), "Corvane.ini"));
    }
    register_modules();
}

}  // namespace

CORVANE_EXPORT int StartUp(void)
{
    return corvane::lifecycle::start_up() ? 1 : 0;
}

CORVANE_EXPORT int Main(int input_fd, int output_fd, const char* environment)
{
    corvane::lifecycle::main_entry(input_fd, output_fd, environment);
    return 1;
}

CORVANE_EXPORT int ShutDown(void)
{
    return corvane::lifecycle::shut_down() ? 1 : 0;
}

CORVANE_EXPORT void CVGetStatus(void* status36)
{
    corvane::lifecycle::get_status(status36);
}

CORVANE_EXPORT int CVKillSession(const char* session_id)
{
    return corvane::lifecycle::kill_session(session_id);
}

CORVANE_EXPORT int CVUserCreate(const char*, const char*, const char*, const char*, const char*)
{
    return 0;
}

CORVANE_EXPORT int CVUserExists(const char*)
{
    return 0;
}

CORVANE_EXPORT int CVUserRename(const char*, const char*)
{
    return 0;
}

CORVANE_EXPORT unsigned int CVGetUserDiskSpace(const char*)
{
    return 0;
}
