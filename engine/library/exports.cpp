// The binary interface of Corvane.so: the CGI entry points a web server
// binds by name, and the administrative exports. Everything else in the
// library is hidden.
//
// The account exports (CVUserCreate, CVUserExists, CVUserRename,
// CVGetUserDiskSpace) answer "no" until the account functions are built, so
// programs that bind the whole interface load already.
#include <cstdlib>
#include <memory>
#include <string>

#include "common/platform/dynamic_library.h"
#include "common/platform/files.h"
#include "engine/library/composition_root.h"

#define CORVANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using corvane::library::CompositionRoot;

// Made on first use: the load-time constructor below makes the root, and
// may run before this file's static objects are initialised.
std::unique_ptr<CompositionRoot>& root_storage()
{
    static std::unique_ptr<CompositionRoot> root;
    return root;
}

corvane::lifecycle::Engine& engine()
{
    return root_storage()->engine();
}

// Library attach: Corvane.ini lies beside the library unless CORVANE_INI
// (an absolute path) names another.
__attribute__((constructor)) void attach()
{
    namespace fs = corvane::platform;
    const char* configured = std::getenv("CORVANE_INI");
    std::string config_path;
    if (configured && configured[0] == '/') {
        config_path = configured;
    } else {
        std::string library = fs::module_path_of(reinterpret_cast<const void*>(&attach));
        config_path = fs::join_path(fs::directory_of(library), "Corvane.ini");
    }
    root_storage() = std::make_unique<CompositionRoot>(std::move(config_path));
}

}  // namespace

CORVANE_EXPORT int StartUp(void)
{
    return engine().start_up() ? 1 : 0;
}

CORVANE_EXPORT int Main(int input_fd, int output_fd, const char* environment)
{
    engine().main_entry(input_fd, output_fd, environment);
    return 1;
}

CORVANE_EXPORT int ShutDown(void)
{
    return engine().shut_down() ? 1 : 0;
}

CORVANE_EXPORT void CVGetStatus(void* status36)
{
    engine().get_status(status36);
}

CORVANE_EXPORT int CVKillSession(const char* session_id)
{
    return engine().kill_session(session_id);
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
