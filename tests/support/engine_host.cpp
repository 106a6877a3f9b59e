#include "tests/support/engine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"

#ifndef CORVANE_ENGINE_LIBRARY
#error "CORVANE_ENGINE_LIBRARY must name the built Corvane.so"
#endif

namespace corvane::testing {

namespace fs = corvane::platform;

namespace {

using StartUpFn = int (*)();
using MainFn = int (*)(int, int, const char*);
using ShutDownFn = int (*)();
using GetStatusFn = void (*)(void*);
using KillSessionFn = int (*)(const char*);

// How long a response may take before the host gives up on it.
constexpr auto response_limit = std::chrono::seconds(30);

std::string unique_instance()
{
    static std::atomic<int> counter{0};
    return "host" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

std::string make_temp_root()
{
    std::string pattern = "/tmp/corvane-engine-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

void write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;  // the engine closed its end without reading: fine
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Reads until end of file or the deadline; false on time-out.
bool read_all(int fd, std::string& out)
{
    auto deadline = std::chrono::steady_clock::now() + response_limit;
    char buffer[16384];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

void split_response(EngineResponse& response)
{
    const std::string& raw = response.raw;
    std::size_t pos = 0;
    while (pos < raw.size()) {
        std::size_t end = raw.find('\n', pos);
        if (end == std::string::npos)
            break;
        std::string line = raw.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = end + 1;
        if (line.empty()) {
            response.header_complete = true;
            break;
        }
        response.headers.push_back(std::move(line));
    }
    response.body = response.header_complete ? raw.substr(pos) : std::string();
}

}  // namespace

std::string EngineResponse::header(std::string_view name) const
{
    for (const std::string& line : headers) {
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && text::iequals(std::string_view(line).substr(0, colon), name))
            return std::string(text::trim(std::string_view(line).substr(colon + 1)));
    }
    return {};
}

EngineHost::EngineHost() : EngineHost(Options{}) {}

EngineHost::EngineHost(Options options) : m_options(std::move(options))
{
    // A web server ignores SIGPIPE; so does this host, whose body writer may
    // find the engine's end of the pipe closed.
    ::signal(SIGPIPE, SIG_IGN);
    m_instance = m_options.instance.empty() ? unique_instance() : m_options.instance;
    if (m_options.root.empty()) {
        m_root = make_temp_root();
        m_own_root = true;
    } else {
        m_root = m_options.root;
    }
    make_tree();
}

EngineHost::~EngineHost()
{
    if (m_started)
        shut_down();
    unload();
    if (m_own_root && !m_root.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }
}

void EngineHost::make_tree()
{
    for (const char* dir : {"Logs", "Temp", "Templates", "Users", "SpellCheck"})
        (void)fs::make_directories(m_root + "/" + dir);
    if (!m_options.templates_from.empty()) {
        std::error_code error;
        std::filesystem::copy(
            m_options.templates_from, templates_dir(),
            std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing, error);
    }
    if (!m_options.mime_types.empty())
        (void)fs::write_file_atomic(m_root + "/MimeTypes.cfg", m_options.mime_types);
    if (m_options.write_settings) {
        ini::Profile ini(ini_path());
        (void)ini.update([&](ini::Document& doc) {
            doc.set("Directories", "BaseDir", base_dir());
            doc.set("Directories", "LogDir", log_dir());
            doc.set("Directories", "TempDir", temp_dir());
            doc.set("Directories", "TemplateDir", templates_dir());
            doc.set("Directories", "UserDir", users_dir());
            doc.set("Directories", "SpellDir", m_root + "/SpellCheck");
            for (const auto& s : m_options.settings)
                doc.set(s.section, s.key, s.value);
            return true;
        });
    }
}

void EngineHost::set(const std::string& section, const std::string& key, const std::string& value)
{
    (void)ini::Profile(ini_path()).write_text(section, key, value);
}

std::string EngineHost::setting(const std::string& section, const std::string& key) const
{
    return ini::Profile(ini_path()).text(section, key, "");
}

void EngineHost::use_instance() const
{
    ::setenv("CORVANE_INSTANCE", m_instance.c_str(), 1);
}

bool EngineHost::load()
{
    if (m_library.loaded())
        return true;
    std::string source = m_options.library.empty() ? std::string(CORVANE_ENGINE_LIBRARY) : m_options.library;
    // A copy of its own: dlopen of a path already loaded would return that
    // library with its state, and the library's directory is where it
    // looks for Corvane.ini when CORVANE_INI is not set.
    // A library that was closed may still be mapped (the loader keeps a
    // library whose thread-local objects still await destruction), so the
    // copy replaces the file by rename instead of rewriting it in place.
    m_library_copy = m_root + "/Corvane.so";
    std::string partial = m_root + "/.Corvane.so.partial";
    std::error_code error;
    std::filesystem::copy_file(source, partial, std::filesystem::copy_options::overwrite_existing, error);
    if (!error)
        std::filesystem::rename(partial, m_library_copy, error);
    if (error)
        return false;

    const char* previous = std::getenv("CORVANE_INI");
    std::string saved = previous ? previous : "";
    if (m_options.use_env_ini)
        ::setenv("CORVANE_INI", ini_path().c_str(), 1);
    else
        ::unsetenv("CORVANE_INI");
    auto library = fs::DynamicLibrary::open(m_library_copy);
    if (previous)
        ::setenv("CORVANE_INI", saved.c_str(), 1);
    else
        ::unsetenv("CORVANE_INI");
    if (!library)
        return false;
    m_library = std::move(*library);
    return true;
}

void EngineHost::unload()
{
    m_library.close();
}

bool EngineHost::start()
{
    if (!load())
        return false;
    use_instance();
    auto start_up = m_library.function<StartUpFn>("StartUp");
    m_started = true;  // ShutDown is due even after a failed start
    return start_up && start_up() != 0;
}

bool EngineHost::shut_down()
{
    if (!m_library.loaded())
        return false;
    auto shut = m_library.function<ShutDownFn>("ShutDown");
    m_started = false;
    return shut && shut() != 0;
}

void* EngineHost::symbol(const char* name) const
{
    return m_library.loaded() ? m_library.symbol(name) : nullptr;
}

std::string EngineHost::environment_block(const std::vector<std::pair<std::string, std::string>>& variables)
{
    std::string block;
    for (const auto& [name, value] : variables) {
        block += name;
        block += '=';
        block += value;
        block += '\0';
    }
    block += '\0';
    return block;
}

int EngineHost::call_main(int input_fd, int output_fd, const std::string& environment_block)
{
    auto main_fn = m_library.function<MainFn>("Main");
    if (!main_fn)
        return 0;
    return main_fn(input_fd, output_fd, environment_block.c_str());
}

EngineResponse EngineHost::request(const EngineRequest& request)
{
    EngineResponse response;
    std::vector<std::pair<std::string, std::string>> variables = {
        {"REQUEST_METHOD", request.method.empty() ? (request.body.empty() ? "GET" : "POST") : request.method},
        {"QUERY_STRING", request.query_string},
        {"CONTENT_LENGTH", std::to_string(request.body.size())},
        {"CONTENT_TYPE", request.content_type.empty() && !request.body.empty() ? "application/x-www-form-urlencoded"
                                                                               : request.content_type},
        {"HTTP_COOKIE", request.cookie},
        {"REMOTE_ADDR", request.remote_addr},
        {"SCRIPT_NAME", request.script_name},
        {"SERVER_NAME", "127.0.0.1"},
        {"SERVER_PROTOCOL", "HTTP/1.0"},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
    };
    for (const auto& [name, value] : request.variables) {
        bool replaced = false;
        for (auto& existing : variables) {
            if (text::iequals(existing.first, name)) {
                existing.second = value;
                replaced = true;
            }
        }
        if (!replaced)
            variables.emplace_back(name, value);
    }

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return response;
    int input[2] = {-1, -1};
    if (!request.no_input && ::pipe2(input, O_CLOEXEC) != 0) {
        ::close(output[0]);
        ::close(output[1]);
        return response;
    }

    std::thread writer;
    if (!request.no_input) {
        writer = std::thread([fd = input[1], body = request.body] {
            write_all(fd, body);
            ::close(fd);
        });
    }
    bool complete = false;
    std::thread reader([fd = output[0], &response, &complete] {
        complete = read_all(fd, response.raw);
        ::close(fd);
    });

    // Both ends handed over belong to the engine from here on.
    response.main_result = call_main(input[0], output[1], environment_block(variables));

    reader.join();
    if (writer.joinable())
        writer.join();
    response.timed_out = !complete;
    split_response(response);
    return response;
}

std::array<std::int32_t, 9> EngineHost::status()
{
    std::array<std::int32_t, 9> counters{};
    if (!load())
        return counters;
    use_instance();
    if (auto get = m_library.function<GetStatusFn>("CVGetStatus"))
        get(counters.data());
    return counters;
}

int EngineHost::kill_session(const std::string& id)
{
    if (!load())
        return 0;
    use_instance();
    auto kill = m_library.function<KillSessionFn>("CVKillSession");
    return kill ? kill(id.c_str()) : 0;
}

std::string EngineHost::log_path() const
{
    std::string latest = setting("Other", "LatestLogFile");
    return latest.empty() ? log_dir() + "/Corvane.log" : latest;
}

std::string EngineHost::log_text() const
{
    auto text = fs::read_file(log_path());
    return text ? *text : std::string();
}

std::vector<std::string> EngineHost::log_lines() const
{
    std::vector<std::string> lines;
    std::string all = log_text();
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // "[Sun 2026-12-06 10:09:45] " is 26 bytes.
        if (line.size() >= 26 && line[0] == '[' && line[24] == ']' && line[25] == ' ')
            line.erase(0, 26);
        lines.push_back(std::move(line));
    }
    return lines;
}

bool EngineHost::log_contains(std::string_view text) const
{
    return log_text().find(text) != std::string::npos;
}

}  // namespace corvane::testing
