// EngineHost: drives Corvane.so the way the web server does, for tests.
//
// It builds a temporary install tree (its own copy of Corvane.so, a
// Corvane.ini whose directories all lie inside the tree, Templates/,
// Users/, Logs/, Temp/), loads the library with dlopen, calls StartUp,
// answers request() calls through Main with real pipes (one thread writes
// the body, another reads the response) and calls ShutDown when it goes.
// Each host has its own library copy and its own CORVANE_INSTANCE, so
// several hosts (and other test processes) never share an engine or its
// shared memory.
//
// What it does not do: HTTP. The caller gives the CGI variables; the
// response comes back as the engine wrote it, split into header lines and
// body.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/platform/dynamic_library.h"

namespace corvane::testing {

struct EngineRequest {
    std::string query_string;
    // Written to the input pipe; CONTENT_LENGTH is its size.
    std::string body;
    std::string cookie;  // HTTP_COOKIE
    std::string remote_addr = "127.0.0.1";
    // REQUEST_METHOD; empty: "POST" with a body, else "GET".
    std::string method;
    // CONTENT_TYPE; empty: form-encoded when there is a body.
    std::string content_type;
    std::string script_name = "/cgi-bin/Corvane.so";
    // Further variables; a name given here replaces the one made above.
    std::vector<std::pair<std::string, std::string>> variables;
    // Pass -1 instead of an input pipe.
    bool no_input = false;
};

struct EngineResponse {
    int main_result = 0;
    std::string raw;                   // every byte the engine wrote
    std::vector<std::string> headers;  // lines before the blank line, without line ends
    std::string body;                  // after the blank line
    bool header_complete = false;      // a blank line ended the header lines
    bool timed_out = false;            // the output was not closed in time

    // The value of the first header line of that name ("" when absent).
    std::string header(std::string_view name) const;
};

struct EngineSetting {
    std::string section;
    std::string key;
    std::string value;
};

class EngineHost {
public:
    struct Options {
        // The library to load; empty: the Corvane.so of this build.
        std::string library;
        // An existing tree to use (kept afterwards); empty: a fresh one.
        std::string root;
        // Write Corvane.ini with the tree's directories before the start.
        bool write_settings = true;
        std::vector<EngineSetting> settings;
        // CORVANE_INSTANCE for this host; empty: one of its own.
        std::string instance;
        // Find Corvane.ini through CORVANE_INI (else beside the library).
        bool use_env_ini = true;
        // Content of MimeTypes.cfg in the base directory (none when empty).
        std::string mime_types;
        // A directory copied to Templates/.
        std::string templates_from;
    };

    EngineHost();
    explicit EngineHost(Options options);
    // ShutDown when started, unload, remove a tree of its own.
    ~EngineHost();
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;

    const std::string& root() const { return m_root; }
    const std::string& instance() const { return m_instance; }
    std::string ini_path() const { return m_root + "/Corvane.ini"; }
    std::string base_dir() const { return m_root; }
    std::string log_dir() const { return m_root + "/Logs"; }
    std::string temp_dir() const { return m_root + "/Temp"; }
    std::string users_dir() const { return m_root + "/Users"; }
    std::string templates_dir() const { return m_root + "/Templates"; }

    // Corvane.ini, read and written as plain files (before or between runs).
    void set(const std::string& section, const std::string& key, const std::string& value);
    std::string setting(const std::string& section, const std::string& key) const;

    // Loads the library (start() does it when needed); false on failure.
    bool load();
    bool start();
    bool shut_down();
    bool started() const { return m_started; }
    // Unloads the library (after shut_down()); the next start() loads it again.
    void unload();

    EngineResponse request(const EngineRequest& request);
    // Main with descriptors of the caller's own and a ready block.
    int call_main(int input_fd, int output_fd, const std::string& environment_block);
    static std::string environment_block(const std::vector<std::pair<std::string, std::string>>& variables);

    // CVGetStatus as nine counters, and CVKillSession.
    std::array<std::int32_t, 9> status();
    int kill_session(const std::string& id);
    void* symbol(const char* name) const;

    // The engine log: the file named by [Other] LatestLogFile, else
    // Logs/Corvane.log; log_lines() without their time stamps.
    std::string log_path() const;
    std::string log_text() const;
    std::vector<std::string> log_lines() const;
    bool log_contains(std::string_view text) const;

private:
    void make_tree();
    void use_instance() const;

    Options m_options;
    std::string m_root;
    bool m_own_root = false;
    std::string m_instance;
    std::string m_library_copy;
    platform::DynamicLibrary m_library;
    bool m_started = false;
};

}  // namespace corvane::testing
