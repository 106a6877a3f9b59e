// What the web server reads from Corvane.ini, and which of the two servers
// this process is.
//
// The same program serves two roles: started as Larkd it is the
// administration server and reads the section [AdminWebServer]; started as
// Corvane (a link to Larkd) it serves the users from the section
// [WebServer], with defaults that host the engine library beside the
// program at "/Corvane" and without a CGI directory: the programs there (the
// web INI editor among them) belong to the administration server, and the
// user server faces the network. Per-request settings are read when needed, so a
// change to the file takes effect with the next request; the parsed file is
// cached until it changes on disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/ini/profile.h"

namespace corvane::webserver {

enum class Role { admin, user };

// Everything that tells the two servers apart.
struct ServerIdentity {
    Role role;
    std::string_view program;     // "Larkd" or "Corvane"
    std::string_view section;     // settings section
    std::string_view server_log;  // in LogDir
    std::string_view access_log;  // in LogDir; moved to ".old" when too large
    std::string_view product;     // the words in the log file banners
    std::string_view pid_file;    // in LogDir, while the server runs
    std::string_view unit;        // the systemd unit that runs it
    int default_port;
    std::string_view default_bind_address;
    std::string_view default_cgi_base1;  // also what "/" is replaced by
    std::string_view default_cgi_file1;  // relative to the program's directory
    std::string_view default_cgi_alias;  // "" switches the CGI directory off
};

const ServerIdentity& identity_of(Role role);
// Corvane (any case) for the user server, anything else for Larkd.
Role role_for_program(std::string_view argv0);

namespace defaults {
constexpr std::string_view base_dir = "/opt/corvane";
constexpr std::string_view temp_dir = "/opt/corvane/Temp";
constexpr std::string_view log_dir = "/opt/corvane/Logs";
constexpr std::string_view html_dir = "/opt/corvane/HTML";
constexpr std::string_view cgi_dir = "/opt/corvane/cgi-bin";
constexpr std::string_view def_html_file = "index.html";
constexpr int log_level = 1;
constexpr int max_log_file_size_kb = 5000;
// A connection that shows no sign of life for this long is ended. The
// setting ConnectionTimeout (seconds, not written back) can shorten it.
constexpr int connection_timeout_seconds = 300;
// The whole header block must arrive within HeaderTimeout seconds of the
// connection, and a body at MinBodyRate bytes a second at least (after the
// same grace), so that a client sending a byte now and then cannot hold a
// connection for as long as it likes.
constexpr int header_timeout_seconds = 10;
constexpr int min_body_rate = 1024;
// MaxRequestBody (bytes): a POST announcing more is answered 413 before
// any of its body is read.
constexpr std::int64_t max_request_body = 64 * 1024 * 1024;
// MaxConnections: open connections at most; at the limit the oldest one
// that has not yet sent its request goes first.
constexpr int max_connections = 1000;
}  // namespace defaults

// Limits of the settings that are kept as text.
constexpr std::size_t max_def_html_file = 31;
constexpr std::size_t max_cgi_base1 = 63;
constexpr std::size_t max_auth = 255;
constexpr std::size_t max_setting = 260;

class ServerConfig {
public:
    ServerConfig(std::string ini_path, Role role);

    const ini::Profile& profile() const { return m_profile; }
    const std::string& path() const { return m_profile.path(); }
    const ServerIdentity& identity() const { return *m_identity; }
    std::string_view section() const { return m_identity->section; }

    // [General] and [Directories]
    bool run_as_service() const;
    int log_level() const;
    int max_log_file_size_kb() const;
    std::string temp_dir() const;
    std::string log_dir() const;
    std::string base_dir() const;

    // The server's own section.
    int port() const;
    std::string bind_address() const;
    std::string html_dir() const;
    std::string def_html_file() const;
    std::string cgi_alias() const;
    std::string cgi_dir() const;
    std::string auth() const;
    bool local_auth() const;
    // What the path "/" stands for.
    std::string cgi_base1() const;
    int connection_timeout_seconds() const;
    int header_timeout_seconds() const;
    int min_body_rate() const;  // bytes per second; 0 switches the rate off
    std::int64_t max_request_body() const;
    int max_connections() const;
    // How many CGI requests run at once: EngineThreads (default twice the
    // cores) on the user server; one on the administration server, whose
    // programs edit shared files.
    int concurrent_cgis() const;

    // Writes every setting the server knows back with its effective value
    // (in one replacement of the file), so that the file always lists them.
    bool write_back() const;
    bool write_text(std::string_view section, std::string_view key, std::string_view value) const;

private:
    std::string own_text(std::string_view key, std::string_view def, std::size_t max = max_setting) const;

    ini::Profile m_profile;
    const ServerIdentity* m_identity;
};

}  // namespace corvane::webserver
