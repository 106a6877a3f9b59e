#include "webserver/router.h"

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "webserver/credentials.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

constexpr std::string_view loopback = "127.0.0.1";
constexpr std::size_t max_logged_user = 64;

}  // namespace

std::string loggable_user(std::string_view credentials)
{
    std::string user = text::without_controls(user_of(credentials));
    for (char& c : user) {
        if (c == '"')
            c = '\'';
    }
    return text::bounded(user, max_logged_user);
}

std::optional<std::string> Router::expected_credentials(const std::string& key, const std::string& value,
                                                        log::Logger& log)
{
    std::string stored = value;
    if (auto scrambled = codec::scramble_if_plain(m_codec, value)) {
        if (!scrambled->ok()) {
            log.line(log::Level::error, "Could not scramble %s: %s", key.c_str(), scrambled->error().text.c_str());
            return std::nullopt;
        }
        stored = scrambled->value();
        m_config.write_text(m_config.section(), key, stored);
    }
    auto plain = m_codec.unscramble(stored);
    if (!plain) {
        // Nobody gets in with credentials nobody can read.
        log.line(log::Level::error, "Could not unscramble %s: %s", key.c_str(), plain.error().text.c_str());
        return std::nullopt;
    }
    return plain.value();
}

Router::Check Router::check(const std::optional<std::string>& expected, const HttpRequest& request,
                            const std::string& peer, log::Logger& log, std::optional<std::string>& credentials,
                            AuthThrottle::Clock::time_point now, AuthThrottle::Clock::duration& wait)
{
    if (peer == loopback && !m_config.local_auth())
        return Check::passed;
    if (request.authorization) {
        if (auto decoded = decode_basic(*request.authorization))
            credentials = std::move(decoded);
    }
    // A request without credentials is a browser asking for the prompt,
    // not a guess: it is answered at once and never counted.
    if (!credentials)
        return Check::failed;
    wait = m_throttle.wait_for(peer, now);
    if (wait > AuthThrottle::Clock::duration::zero())
        return Check::wait;
    if (expected && credentials_match(*expected, *credentials)) {
        m_throttle.succeeded(peer);
        return Check::passed;
    }
    m_throttle.failed(peer, now);
    log.line(log::Level::notable, "Authentication failure for \"%s\" from %s", loggable_user(*credentials).c_str(),
             peer.c_str());
    return Check::failed;
}

Route Router::refuse_unprotected_cgi(const std::string& what, log::Logger& log)
{
    log.line(log::Level::error,
             "Refused to run %s: no credentials are set. Set Auth=-user:password in [%.*s] of %s "
             "(it is scrambled at the first request)",
             text::without_controls(what).c_str(), static_cast<int>(m_config.section().size()),
             m_config.section().data(), m_config.path().c_str());
    Route r;
    r.status = 403;
    return r;
}

Route Router::route(const HttpRequest& request, const std::string& peer, log::Logger& log,
                    std::optional<std::string>& credentials, AuthThrottle::Clock::time_point now)
{
    Route r;
    std::string path = request.path;
    if (path == "/") {
        std::string base = m_config.cgi_base1();
        if (!base.empty())
            path = base;
    }

    auto wait_route = [&r](AuthThrottle::Clock::duration wait) {
        r.kind = Route::Kind::wait;
        r.wait = wait;
        return r;
    };
    auto refused = [&r]() {
        r.kind = Route::Kind::error;
        r.status = 401;
        return r;
    };

    std::string auth = m_config.auth();
    bool global = !auth.empty();
    if (global) {
        AuthThrottle::Clock::duration wait{};
        switch (check(expected_credentials("Auth", auth, log), request, peer, log, credentials, now, wait)) {
        case Check::wait:
            return wait_route(wait);
        case Check::failed:
            if (credentials)
                log.line(log::Level::notable, "Global authentication failed (%s)", loggable_user(*credentials).c_str());
            else
                log.line(log::Level::detail, "Global authentication failed");
            return refused();
        case Check::passed:
            break;
        }
    }
    bool admin = m_config.identity().role == Role::admin;

    if (auto match = m_cgi.find(path)) {
        const CgiEntry& entry = *match->entry;
        if (!global && !entry.credentials.empty()) {
            AuthThrottle::Clock::duration wait{};
            auto expected = expected_credentials(text::format("CgiAuth%d", entry.index), entry.credentials, log);
            switch (check(expected, request, peer, log, credentials, now, wait)) {
            case Check::wait:
                return wait_route(wait);
            case Check::failed:
                if (credentials)
                    log.line(log::Level::notable, "CGI authentication failed (%s)",
                             loggable_user(*credentials).c_str());
                else
                    log.line(log::Level::detail, "CGI authentication failed");
                return refused();
            case Check::passed:
                break;
            }
        } else if (!global && admin) {
            return refuse_unprotected_cgi(entry.file_path, log);
        }
        if (!entry.is_library() && !fs::is_regular_file(entry.file_path)) {
            r.status = 404;
            return r;
        }
        r.kind = Route::Kind::cgi;
        r.library = entry.is_library() ? &entry : nullptr;
        r.program = entry.is_library() ? std::string() : fs::absolute_path(entry.file_path);
        r.script_name = path;
        r.path_info = match->path_info;
        return r;
    }

    std::string alias = m_config.cgi_alias();
    if (!alias.empty() && path.size() > alias.size() && text::istarts_with(path, alias) && path[alias.size()] == '/') {
        // "/cgi-bin/prog/more": the program is "prog", "/more" is PATH_INFO.
        std::string after = path.substr(alias.size());
        auto slash = after.find('/', 1);
        std::string name = after.substr(0, slash);
        std::string dir = m_config.cgi_dir();
        std::string program = dir + name;
        if (dir.empty() || program.back() == '/' || program.size() > max_path || !fs::is_regular_file(program)) {
            r.status = 404;
            return r;
        }
        if (!global && admin)
            return refuse_unprotected_cgi(program, log);
        r.kind = Route::Kind::cgi;
        r.program = fs::absolute_path(program);
        r.script_name = path.substr(0, alias.size() + name.size());
        r.path_info = slash == std::string::npos ? std::string() : after.substr(slash);
        return r;
    }

    r.kind = Route::Kind::static_file;
    r.url_path = path;
    return r;
}

}  // namespace corvane::webserver
