// Whole requests through the dispatcher of an engine started in this
// process, with the shipped templates and one account (alice, "secret"):
// the input is QUERY_STRING, a line feed, HTTP_COOKIE, a line feed and the
// form body. Every request must end with both streams closed and no fault,
// whatever its fields, cookies and body.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/dispatch/dispatcher.h"
#include "engine/core/dispatch/engine_accounts.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/templates/languages.h"
#include "engine/core/templates/template_store.h"

namespace {

namespace fs = corvane::platform;
namespace lifecycle = corvane::lifecycle;

std::string g_root;

void remove_root()
{
    lifecycle::shut_down();
    if (!g_root.empty()) {
        std::string command = "rm -rf '" + g_root + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", g_root.c_str());
    }
}

// The engine as Corvane.so wires it, in this process.
bool start_engine()
{
    char pattern[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!::mkdtemp(pattern))
        return false;
    g_root = pattern;
    std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + g_root + "/Templates'";
    if (std::system(copy.c_str()) != 0)
        return false;
    for (const char* dir : {"Logs", "Temp", "Users/alice"})
        (void)fs::make_directories(g_root + "/" + dir);
    (void)fs::write_file_atomic(g_root + "/Users/alice/User.ini", "[User]\nPassword=-secret\n");
    corvane::ini::Profile ini(g_root + "/Corvane.ini");
    (void)ini.update([&](corvane::ini::Document& doc) {
        doc.set("Directories", "BaseDir", g_root);
        doc.set("Directories", "LogDir", g_root + "/Logs");
        doc.set("Directories", "TempDir", g_root + "/Temp");
        doc.set("Directories", "TemplateDir", g_root + "/Templates");
        doc.set("Directories", "UserDir", g_root + "/Users");
        doc.set("General", "LogLevel", "6");
        doc.set("Session", "Maximum", "20");
        return true;
    });
    ::setenv("CORVANE_INSTANCE", ("fuzz" + std::to_string(::getpid())).c_str(), 1);

    auto accounts = std::make_shared<corvane::dispatch::EngineAccounts>();
    lifecycle::EngineHooks hooks;
    hooks.create_template_store = [](lifecycle::Engine& engine) -> std::shared_ptr<void> {
        return std::make_shared<corvane::templates::TemplateStore>(
            lifecycle::text_setting(*engine.settings, "Directories", "TemplateDir"));
    };
    hooks.load_user = [accounts](lifecycle::Engine& engine, std::string_view name, corvane::log::Logger& log) {
        return accounts->load_user(engine, name, log);
    };
    lifecycle::set_hooks(std::move(hooks));
    lifecycle::set_request_handler(std::make_shared<corvane::dispatch::Dispatcher>(accounts));
    lifecycle::set_config_path(g_root + "/Corvane.ini");
    if (!lifecycle::start_up())
        return false;
    std::atexit(remove_root);
    return true;
}

std::string_view next_line(std::string_view& rest)
{
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool running = start_engine();
    if (!running)
        __builtin_trap();
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string query(next_line(rest));
    std::string cookie(next_line(rest));
    std::string body(rest.substr(0, 60000));  // stays within a pipe's buffer

    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return 0;
    if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
        __builtin_trap();
    ::close(in[1]);
    int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);

    std::string block;
    auto add = [&block](const char* name, const std::string& value) {
        block.append(name).append("=").append(value.c_str()).push_back('\0');
    };
    add("QUERY_STRING", query);
    add("HTTP_COOKIE", cookie);
    add("CONTENT_LENGTH", std::to_string(body.size()));
    add("CONTENT_TYPE", "application/x-www-form-urlencoded");
    add("REMOTE_ADDR", "127.0.0.1");
    add("SCRIPT_NAME", "/cgi-bin/Corvane.so");
    block.push_back('\0');
    lifecycle::main_entry(in[0], out, block.c_str());
    // Both descriptors belong to the engine, which must have closed them.
    if (::fcntl(in[0], F_GETFD) != -1 || ::fcntl(out, F_GETFD) != -1)
        __builtin_trap();
    return 0;
}
