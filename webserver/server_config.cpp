#include "webserver/server_config.h"

#include <thread>

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::webserver {

namespace {

constexpr ServerIdentity admin_identity{
    .role = Role::admin,
    .program = "Larkd",
    .section = "AdminWebServer",
    .server_log = "Larkd-admin.log",
    .access_log = "http-admin.log",
    .product = "Corvane Pro Admin Server 2.0.1",
    .pid_file = "Larkd.pid",
    .unit = "corvane-admin.service",
    .default_port = 2001,
    // The administration server edits settings and accounts: unless told
    // otherwise it answers this machine only.
    .default_bind_address = "127.0.0.1",
    .default_cgi_base1 = "/",
    .default_cgi_file1 = "",
    .default_cgi_alias = "/cgi-bin",
};

constexpr ServerIdentity user_identity{
    .role = Role::user,
    .program = "Corvane",
    .section = "WebServer",
    .server_log = "Larkd-user.log",
    .access_log = "http-user.log",
    .product = "Corvane Pro Server 2.0.1",
    .pid_file = "Corvane.pid",
    .unit = "corvane.service",
    .default_port = 2000,
    .default_bind_address = "0.0.0.0",
    .default_cgi_base1 = "/Corvane",
    .default_cgi_file1 = "Corvane.so",
    .default_cgi_alias = "",
};

}  // namespace

const ServerIdentity& identity_of(Role role)
{
    return role == Role::user ? user_identity : admin_identity;
}

Role role_for_program(std::string_view argv0)
{
    return text::iequals(platform::file_name_of(argv0), "Corvane") ? Role::user : Role::admin;
}

ServerConfig::ServerConfig(std::string ini_path, Role role)
    : m_profile(std::move(ini_path)), m_identity(&identity_of(role))
{
}

std::string ServerConfig::own_text(std::string_view key, std::string_view def, std::size_t max) const
{
    return m_profile.text(section(), key, def, max);
}

bool ServerConfig::run_as_service() const
{
    return m_profile.yes_no("General", "RunAsService", true);
}

int ServerConfig::log_level() const
{
    return m_profile.number("General", "LogLevel", defaults::log_level);
}

int ServerConfig::max_log_file_size_kb() const
{
    return m_profile.number("General", "MaxLogFileSize", defaults::max_log_file_size_kb);
}

std::string ServerConfig::temp_dir() const
{
    return m_profile.text("Directories", "TempDir", defaults::temp_dir);
}

std::string ServerConfig::log_dir() const
{
    return m_profile.text("Directories", "LogDir", defaults::log_dir);
}

std::string ServerConfig::base_dir() const
{
    return m_profile.text("Directories", "BaseDir", defaults::base_dir);
}

int ServerConfig::port() const
{
    return m_profile.number(section(), "Port", m_identity->default_port);
}

std::string ServerConfig::bind_address() const
{
    return own_text("BindAddress", m_identity->default_bind_address);
}

std::string ServerConfig::html_dir() const
{
    return own_text("HtmlDir", defaults::html_dir);
}

std::string ServerConfig::def_html_file() const
{
    return own_text("DefHtmlFile", defaults::def_html_file, max_def_html_file);
}

std::string ServerConfig::cgi_alias() const
{
    return own_text("CgiAlias", m_identity->default_cgi_alias);
}

std::string ServerConfig::cgi_dir() const
{
    return own_text("CgiDir", defaults::cgi_dir);
}

std::string ServerConfig::auth() const
{
    return own_text("Auth", "", max_auth);
}

bool ServerConfig::local_auth() const
{
    return m_profile.yes_no(section(), "LocalAuth", false);
}

std::string ServerConfig::cgi_base1() const
{
    return own_text("CgiBase1", m_identity->default_cgi_base1, max_cgi_base1);
}

int ServerConfig::connection_timeout_seconds() const
{
    int seconds = m_profile.number(section(), "ConnectionTimeout", defaults::connection_timeout_seconds);
    return seconds < 1 ? defaults::connection_timeout_seconds : seconds;
}

int ServerConfig::header_timeout_seconds() const
{
    int seconds = m_profile.number(section(), "HeaderTimeout", defaults::header_timeout_seconds);
    return seconds < 1 ? defaults::header_timeout_seconds : seconds;
}

int ServerConfig::min_body_rate() const
{
    int rate = m_profile.number(section(), "MinBodyRate", defaults::min_body_rate);
    return rate < 0 ? defaults::min_body_rate : rate;
}

std::int64_t ServerConfig::max_request_body() const
{
    auto document = m_profile.snapshot();
    auto value = document->get(section(), "MaxRequestBody");
    if (!value || value->empty())
        return defaults::max_request_body;
    std::int64_t bytes = text::leading_number(*value);
    return bytes < 0 ? defaults::max_request_body : bytes;
}

int ServerConfig::max_connections() const
{
    int count = m_profile.number(section(), "MaxConnections", defaults::max_connections);
    return count < 8 ? 8 : count;
}

int ServerConfig::concurrent_cgis() const
{
    if (m_identity->role == Role::admin)
        return 1;
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    int threads = m_profile.number(section(), "EngineThreads", 2 * (cores > 0 ? cores : 1));
    return threads < 1 ? 1 : threads;
}

bool ServerConfig::write_back() const
{
    const std::string own(section());
    const std::string run_as_service = ini::yes_no_text(this->run_as_service());
    const std::string log_level = std::to_string(this->log_level());
    const std::string max_size = std::to_string(max_log_file_size_kb());
    const std::string temp = temp_dir();
    const std::string logs = log_dir();
    const std::string base = base_dir();
    const std::string port_text = std::to_string(port());
    const std::string bind = bind_address();
    const std::string html = html_dir();
    const std::string def_html = def_html_file();
    const std::string alias = cgi_alias();
    const std::string cgi = cgi_dir();
    const std::string auth_value = m_profile.text(own, "Auth", "");
    const std::string local = ini::yes_no_text(local_auth());
    const std::string base1 = m_profile.text(own, "CgiBase1", m_identity->default_cgi_base1);
    const std::string file1 = m_profile.text(own, "CgiFile1", m_identity->default_cgi_file1);
    return m_profile.update([&](ini::Document& doc) {
        doc.set("General", "RunAsService", run_as_service);
        doc.set("General", "LogLevel", log_level);
        doc.set("General", "MaxLogFileSize", max_size);
        doc.set("Directories", "TempDir", temp);
        doc.set("Directories", "LogDir", logs);
        doc.set("Directories", "BaseDir", base);
        doc.set(own, "Port", port_text);
        doc.set(own, "BindAddress", bind);
        doc.set(own, "HtmlDir", html);
        doc.set(own, "DefHtmlFile", def_html);
        doc.set(own, "CgiAlias", alias);
        doc.set(own, "CgiDir", cgi);
        doc.set(own, "Auth", auth_value);
        doc.set(own, "LocalAuth", local);
        // The user server lists the engine it hosts, so that the file shows
        // what "/" leads to.
        if (m_identity->role == Role::user) {
            doc.set(own, "CgiBase1", base1);
            doc.set(own, "CgiFile1", file1);
        }
        return true;
    });
}

bool ServerConfig::write_text(std::string_view sect, std::string_view key, std::string_view value) const
{
    return m_profile.write_text(sect, key, value);
}

}  // namespace corvane::webserver
