// A Corvane engine with the shipped templates, driven through Main, and the
// small helpers the dispatcher tests share: accounts, logons, the session
// id and key a logon hands out.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/files.h"
#include "tests/support/engine_host.h"

namespace corvane::dispatch::test {

using corvane::testing::EngineHost;
using corvane::testing::EngineRequest;
using corvane::testing::EngineResponse;

inline std::string shipped_templates()
{
    return std::string(CORVANE_SOURCE_DIR) + "/templates";
}

// What a logon handed to the browser.
struct Logon {
    EngineResponse response;
    std::string id;          // from LINK
    std::string key_cookie;  // "CorvaneKey_<id>=<key>"
};

inline std::vector<std::string> cookie_lines(const EngineResponse& response)
{
    std::vector<std::string> lines;
    for (const auto& line : response.headers) {
        if (line.rfind("Set-Cookie: ", 0) == 0)
            lines.push_back(line.substr(12));
    }
    return lines;
}

inline std::string session_in(const std::string& body)
{
    std::smatch match;
    static const std::regex link("Session=([A-Z]{7})");
    return std::regex_search(body, match, link) ? match[1].str() : std::string();
}

inline std::size_t count_of(std::string_view haystack, std::string_view needle)
{
    std::size_t n = 0;
    for (std::size_t pos = haystack.find(needle); pos != std::string_view::npos;
         pos = haystack.find(needle, pos + needle.size()))
        ++n;
    return n;
}

class EngineFixture : public ::testing::Test {
protected:
    // Starts an engine with the shipped templates and these settings.
    void start(std::vector<testing::EngineSetting> settings = {}, bool with_templates = true)
    {
        EngineHost::Options options;
        if (with_templates)
            options.templates_from = shipped_templates();
        options.settings = std::move(settings);
        options.settings.push_back({"General", "LogLevel", "1"});
        host = std::make_unique<EngineHost>(options);
        ASSERT_TRUE(host->start()) << host->log_text();
    }

    // An account whose password is stored as plain text ("-" rule).
    void add_user(const std::string& name, const std::string& password, const std::string& more = "")
    {
        std::string dir = host->users_dir() + "/" + name;
        ASSERT_TRUE(platform::make_directories(dir));
        ASSERT_TRUE(platform::write_file_atomic(dir + "/User.ini", "[User]\nPassword=-" + password + "\n" + more));
    }

    EngineResponse get(const std::string& query, const std::string& cookie = "")
    {
        EngineRequest request;
        request.query_string = query;
        request.cookie = cookie;
        return host->request(request);
    }

    EngineResponse post(const std::string& body, const std::string& query = "", const std::string& cookie = "")
    {
        EngineRequest request;
        request.query_string = query;
        request.body = body;
        request.cookie = cookie;
        return host->request(request);
    }

    Logon logon(const std::string& user, const std::string& password, const std::string& view = "")
    {
        Logon result;
        std::string body = "User=" + user + "&Password=" + password;
        if (!view.empty())
            body += "&View=" + view;
        result.response = post(body, "View=Main");
        result.id = session_in(result.response.body);
        for (const auto& cookie : cookie_lines(result.response)) {
            if (cookie.rfind("CorvaneKey_", 0) == 0)
                result.key_cookie = cookie.substr(0, cookie.find(';'));
        }
        return result;
    }

    // A request of a session from the browser that logged on.
    EngineResponse in_session(const Logon& session, const std::string& query, const std::string& more_cookies = "")
    {
        std::string cookie = session.key_cookie;
        if (!more_cookies.empty())
            cookie += "; " + more_cookies;
        return get("Session=" + session.id + (query.empty() ? "" : "&" + query), cookie);
    }

    std::unique_ptr<EngineHost> host;
};

// Texts of the shipped [en] section the tests look for.
inline constexpr std::string_view text_bad_logon = "The user name or the password is not correct.";
inline constexpr std::string_view text_expired = "Your session has expired. Please sign in again.";
inline constexpr std::string_view text_inactive = "This account is not active.";
inline constexpr std::string_view text_logged_out = "You have been signed out.";
inline constexpr std::string_view text_too_many = "Too many users are signed in right now.";
inline constexpr std::string_view text_directory = "Directory sign-in is not available right now.";
inline constexpr std::string_view empty_status = "<p class=\"cv-notice cv-notice--status\" role=\"status\"></p>";
inline constexpr std::string_view list_page = "class=\"cv-table cv-messages\"";
inline constexpr std::string_view logon_form = "name=\"Password\" autocomplete=\"current-password\"";

}  // namespace corvane::dispatch::test
