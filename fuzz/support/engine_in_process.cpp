#include "fuzz/support/engine_in_process.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/library/composition_root.h"

namespace corvane::fuzzing {

namespace fs = corvane::platform;

namespace {

std::string g_root;
std::unique_ptr<library::CompositionRoot> g_engine;

void remove_root()
{
    g_engine.reset();
    if (!g_root.empty()) {
        std::string command = "rm -rf '" + g_root + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", g_root.c_str());
    }
}

bool start()
{
    char pattern[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!::mkdtemp(pattern))
        return false;
    g_root = pattern;
    std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + g_root + "/Templates'";
    if (std::system(copy.c_str()) != 0)
        return false;
    for (const char* dir : {"Logs", "Temp", "Users"})
        (void)fs::make_directories(g_root + "/" + dir);
    ini::Profile ini(g_root + "/Corvane.ini");
    (void)ini.update([&](ini::Document& doc) {
        doc.set("Directories", "BaseDir", g_root);
        doc.set("Directories", "LogDir", g_root + "/Logs");
        doc.set("Directories", "TempDir", g_root + "/Temp");
        doc.set("Directories", "TemplateDir", g_root + "/Templates");
        doc.set("Directories", "UserDir", g_root + "/Users");
        doc.set("General", "LogLevel", "6");
        doc.set("Session", "Maximum", "20");
        // Inputs try wrong passwords freely; the throttle must not hold off
        // the harness's own logons that follow them.
        doc.set("LogonThrottle", "AccountFailures", "1000000");
        doc.set("LogonThrottle", "AddressFailures", "1000000");
        return true;
    });
    ::setenv("CORVANE_INSTANCE", ("fuzz" + std::to_string(::getpid())).c_str(), 1);

    g_engine = std::make_unique<library::CompositionRoot>(g_root + "/Corvane.ini");
    if (!g_engine->engine().start_up())
        return false;
    std::atexit(remove_root);
    return true;
}

}  // namespace

bool start_engine_in_process()
{
    static const bool running = start();
    return running;
}

const std::string& engine_root()
{
    return g_root;
}

lifecycle::Engine& engine()
{
    return g_engine->engine();
}

std::string engine_request(const std::string& query, const std::string& cookie, const std::string& body)
{
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        __builtin_trap();
    if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
        __builtin_trap();
    ::close(in[1]);
    std::string out_path = g_root + "/response";
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0)
        __builtin_trap();

    std::string block;
    auto add = [&block](const char* name, const std::string& value) {
        block.append(name).append("=").append(value.c_str()).push_back('\0');
    };
    add("QUERY_STRING", query);
    add("HTTP_COOKIE", cookie);
    add("CONTENT_LENGTH", std::to_string(body.size()));
    add("CONTENT_TYPE", "application/x-www-form-urlencoded");
    add("REMOTE_ADDR", "127.0.0.1");
    add("SCRIPT_NAME", "/Corvane");
    block.push_back('\0');
    struct stat in_before {
    }, out_before{};
    if (::fstat(in[0], &in_before) != 0 || ::fstat(out, &out_before) != 0)
        __builtin_trap();
    g_engine->engine().main_entry(in[0], out, block.c_str());
    // Both descriptors belong to the engine, which must have closed them.
    // The numbers may already serve a file the engine opened since (its
    // settings cache keeps descriptors), so compare what they point at.
    auto still_open = [](int fd, const struct stat& before) {
        struct stat now {};
        return ::fstat(fd, &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino;
    };
    if (still_open(in[0], in_before) || still_open(out, out_before))
        __builtin_trap();
    auto response = fs::read_file(out_path);
    return response ? *response : std::string();
}

std::string_view next_line(std::string_view& rest)
{
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

}  // namespace corvane::fuzzing
