// Where a parsed request goes: an error response, a static file, or a CGI
// (a configured library or program, or a program in the CGI directory),
// after the credentials the configuration asks for.
//
// The path "/" stands for CgiBase1. Global credentials (Auth) are checked
// for every request; a CGI's own credentials (CgiAuth%d) only when there
// are no global ones. Requests from 127.0.0.1 pass every check while
// LocalAuth is No. A value written as "-user:password" is scrambled and
// written back before it is used.
//
// Failed checks are throttled per client address (auth_throttle.h): a
// request that carries credentials from an address that must wait is given
// back as Route::Kind::wait, to be routed again when the wait is over. Each
// failure writes one line in a fixed form that fail2ban can match:
//     Authentication failure for "<user>" from <address>
//
// The administration server never runs a CGI for a request unless
// credentials are configured for it (Auth, or the entry's CgiAuth): its
// programs edit the system's settings and accounts. Without them the
// answer is 403 and the log says how to set them.
//
// What it does not do: open files or start anything (the connection does,
// with what the route says).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "webserver/auth_throttle.h"
#include "webserver/cgi_table.h"
#include "webserver/http_request.h"
#include "webserver/server_config.h"

namespace corvane::webserver {

struct Route {
    enum class Kind { error, static_file, cgi, wait };
    Kind kind = Kind::error;
    int status = 0;        // error
    std::string url_path;  // static_file: the path after "/" was replaced
    // cgi: a library entry, or the program to run.
    const CgiEntry* library = nullptr;
    std::string program;
    std::string script_name;
    std::string path_info;
    AuthThrottle::Clock::duration wait{};  // wait
};

class Router {
public:
    Router(const ServerConfig& config, codec::PasswordCodec& codec, const CgiTable& cgi, AuthThrottle& throttle)
        : m_config(config), m_codec(codec), m_cgi(cgi), m_throttle(throttle)
    {
    }

    // request must be valid. credentials receives what the client sent
    // (decoded "user:password") when a check looked at it.
    Route route(const HttpRequest& request, const std::string& peer, log::Logger& log,
                std::optional<std::string>& credentials, AuthThrottle::Clock::time_point now);

private:
    enum class Check { passed, failed, wait };
    Check check(const std::optional<std::string>& expected, const HttpRequest& request, const std::string& peer,
                log::Logger& log, std::optional<std::string>& credentials, AuthThrottle::Clock::time_point now,
                AuthThrottle::Clock::duration& wait);
    std::optional<std::string> expected_credentials(const std::string& key, const std::string& value, log::Logger& log);
    Route refuse_unprotected_cgi(const std::string& what, log::Logger& log);

    const ServerConfig& m_config;
    codec::PasswordCodec& m_codec;
    const CgiTable& m_cgi;
    AuthThrottle& m_throttle;
};

// The user name of decoded credentials as a log may show it: control
// characters and double quotes replaced, at most 64 bytes.
std::string loggable_user(std::string_view credentials);

}  // namespace corvane::webserver
