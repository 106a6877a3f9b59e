// The table of configured CGIs (CgiBase%d, CgiFile%d, CgiAuth%d, indexes 1
// to 50) and the matching of a URL path against it.
//
// A file ending in ".so" (or ".dll", kept for old configuration files) is a
// CGI library: loaded once at start-up, given one StartUp before its first
// Main and one ShutDown after its last. A file ending in ".exe" or ".cgi" is
// a CGI program, started afresh for each request. The table is built once
// and read by the network thread only; libraries stay loaded until
// shut_down().
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "common/platform/dynamic_library.h"
#include "webserver/server_config.h"

namespace corvane::webserver {

// The exports of a CGI library, by these names with C linkage.
using StartUpFunction = int (*)();
using MainFunction = int (*)(int input_fd, int output_fd, const char* environment);
using ShutDownFunction = int (*)();

constexpr int max_cgi_entries = 50;
constexpr std::size_t max_cgi_base = 127;
constexpr std::size_t max_cgi_file = 255;

struct CgiEntry {
    int index = 0;                     // the number in the setting names
    std::string base_path;             // URL prefix that selects the CGI
    std::string file_path;             // as configured
    std::string credentials;           // scrambled "user:password", or empty
    platform::DynamicLibrary library;  // libraries only
    MainFunction main = nullptr;
    StartUpFunction start_up = nullptr;    // may be absent
    ShutDownFunction shut_down = nullptr;  // may be absent

    bool is_library() const { return main != nullptr; }
};

struct CgiMatch {
    const CgiEntry* entry = nullptr;
    std::string path_info;  // what follows the base path, possibly empty
};

class CgiTable {
public:
    CgiTable() = default;
    CgiTable(const CgiTable&) = delete;
    CgiTable& operator=(const CgiTable&) = delete;
    ~CgiTable();

    // Reads the configured entries, loads the libraries and starts them in
    // table order. False when a library's StartUp refused: the libraries
    // before it have been shut down and the table is empty again.
    bool load(const ServerConfig& config, codec::PasswordCodec& codec, log::Logger& log);
    // Tells the libraries to shut down (in table order), unloads them and
    // empties the table.
    void shut_down(log::Logger& log);

    // The first entry whose base path begins the URL path (without regard
    // to case) where the path goes on with "/" or ends.
    std::optional<CgiMatch> find(std::string_view url_path) const;

    std::size_t size() const { return m_entries.size(); }
    std::size_t library_count() const;
    const CgiEntry& entry(std::size_t i) const { return *m_entries[i]; }

private:
    std::vector<std::unique_ptr<CgiEntry>> m_entries;
};

// True when a CgiFile value names a library, or a program.
bool is_library_file(std::string_view file);
bool is_program_file(std::string_view file);

}  // namespace corvane::webserver
