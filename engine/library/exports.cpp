// The binary interface of Corvane.so: the CGI entry points a web server
// binds by name, and the administrative exports. Everything else in the
// library is hidden.
//
// The account exports (CVUserCreate, CVUserExists, CVUserRename,
// CVGetUserDiskSpace) answer "no" until the account functions are built, so
// programs that bind the whole interface load already.
#include <cstdlib>
#include <string>

#include "common/platform/dynamic_library.h"
#include "common/platform/files.h"
#include "engine/core/lifecycle/engine.h"

#define CORVANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The modules built on the engine plug in here, once, when the library is
// loaded: the request dispatcher with lifecycle::set_request_handler(), and
// the start-up steps they own (Languages.ini check, template store,
// directory and spelling libraries, the full user record) with
// lifecycle::set_hooks(). Until they do, a request is accepted and closed
// and those steps report their library or file as missing.
void register_modules() {}

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
