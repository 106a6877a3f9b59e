// Larkd: the web server program. Started as Larkd it is the administration
// server ([AdminWebServer]); started through the link named Corvane it
// serves the users ([WebServer]) and hosts the engine library.
//
//   Larkd [--foreground | -u | --version]
//
// The configuration file is Corvane.ini beside the program, or the absolute
// path in $CORVANE_INI. With RunAsService = Yes (the default) the server
// detaches into the background unless --foreground is given (as a systemd
// unit does); -u removes the installed systemd unit.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform/daemon.h"
#include "common/platform/dynamic_library.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "webserver/server.h"
#include "webserver/server_config.h"

namespace fs = corvane::platform;
namespace ws = corvane::webserver;

namespace {

enum class Action { serve, remove_unit, version, help };

void usage(FILE* out, std::string_view program)
{
    std::fprintf(out,
                 "usage: %.*s [--foreground | -u | --version]\n"
                 "  --foreground, -f  stay in the foreground even when RunAsService is Yes\n"
                 "  -u                remove the installed systemd unit\n"
                 "  --version         print the version\n",
                 static_cast<int>(program.size()), program.data());
}

std::string configuration_path(const std::string& program_dir)
{
    const char* override_path = std::getenv("CORVANE_INI");
    if (override_path && *override_path)
        return fs::absolute_path(override_path);
    return fs::join_path(program_dir, "Corvane.ini");
}

// Stops, disables and deletes the installed unit (in /etc/systemd/system,
// or in $CORVANE_SYSTEMD_DIR without calling systemctl); the exit code.
int remove_installed_unit(std::string_view unit)
{
    const char* override_dir = std::getenv("CORVANE_SYSTEMD_DIR");
    bool system = !(override_dir && *override_dir);
    std::string dir = system ? std::string("/etc/systemd/system") : std::string(override_dir);
    std::string warning;
    auto removed = fs::remove_unit(dir, unit, system, &warning);
    if (!warning.empty())
        std::fprintf(stderr, "%s\n", warning.c_str());
    if (!removed && removed.error().code == ENOENT) {
        std::printf("%.*s is not installed\n", static_cast<int>(unit.size()), unit.data());
        return 0;
    }
    if (!removed) {
        std::fprintf(stderr, "%s\n", removed.error().text.c_str());
        return 1;
    }
    std::printf("Removed %s\n", fs::join_path(dir, unit).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::ensure_standard_descriptors();
    const ws::Role role = ws::role_for_program(argc > 0 ? argv[0] : "Larkd");
    const auto& id = ws::identity_of(role);

    Action action = Action::serve;
    bool foreground = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (corvane::text::iequals(arg, "-u")) {
            action = Action::remove_unit;
        } else if (arg == "--foreground" || arg == "-f") {
            foreground = true;
        } else if (arg == "--version") {
            action = Action::version;
        } else if (arg == "--help" || arg == "-h") {
            action = Action::help;
        } else {
            usage(stderr, id.program);
            return 2;
        }
    }
    if (action == Action::version) {
        std::printf("%.*s 2.0.1\n", static_cast<int>(id.program.size()), id.program.data());
        return 0;
    }
    if (action == Action::help) {
        usage(stdout, id.program);
        return 0;
    }

    // Relative paths in the configuration are relative to the program.
    std::string program_dir = fs::directory_of(fs::program_path());
    std::string ini = configuration_path(program_dir);
    if (!program_dir.empty() && !fs::change_directory(program_dir)) {
        // Absolute paths still work; relative ones resolve against where we are.
    }
    if (!fs::is_regular_file(ini)) {
        std::fprintf(stderr, "Could not find configuration file!  \n%s  \n", ini.c_str());
        return -1;
    }

    ws::ServerConfig config(ini, role);
    bool service = config.run_as_service();
    if (action == Action::remove_unit)
        return remove_installed_unit(id.unit);

    auto stop = fs::StopSignal::install();
    if (!stop) {
        std::fprintf(stderr, "%s\n", stop.error().text.c_str());
        return 1;
    }
    std::string log_dir = config.log_dir();
    std::string failure = corvane::text::format("%.*s could not start; see %s", static_cast<int>(id.program.size()),
                                                id.program.data(), fs::join_path(log_dir, id.server_log).c_str());
    fs::StartReport readiness;
    if (service && !foreground) {
        auto detached = fs::detach(failure);
        if (!detached) {
            std::fprintf(stderr, "%s\n", detached.error().text.c_str());
            return 1;
        }
        readiness = std::move(detached.value());
    }

    ws::Server server(config);
    if (!server.start()) {
        readiness.failed();
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    std::string pid_file = fs::join_path(log_dir, id.pid_file);
    (void)fs::write_pid_file(pid_file);
    readiness.ready();

    server.run(*stop);
    server.shut_down();
    fs::remove_pid_file(pid_file);
    return 0;
}
