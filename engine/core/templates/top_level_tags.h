// The tags every page may use, with or without a session: ACTION, CHARSET,
// ERRORMESG, LANG, LANGOPTIONS, STATUSMESG and USER.
//
// The provider reads the request through RequestInfo, which the owner of
// the request context implements. Every value that comes from the request
// (the script name, the language code, the user name from a field or a
// cookie) is HTML-escaped; the two one-shot messages are taken, so a second
// use on the same page writes nothing. Any other tag writes nothing and
// logs nothing: session tags belong to a provider that wraps this one.
#pragma once

#include <string>
#include <string_view>

#include "engine/core/templates/expander.h"

namespace corvane::cgi {
class FieldTable;
}
namespace corvane::log {
class Logger;
}

namespace corvane::templates {

class TemplateStore;

// The request as the page tags see it.
class RequestInfo {
public:
    virtual ~RequestInfo() = default;
    // Form fields and the CGI environment (SCRIPT_NAME, HTTP_COOKIE).
    virtual const cgi::FieldTable& fields() const = 0;
    // The request's language code.
    virtual std::string_view language() const = 0;
    // The view number (0 when the View field names no view).
    virtual int view() const = 0;
    // The session user's name; empty without a session.
    virtual std::string_view user_name() const = 0;
    // The one-shot messages: the session's when set, else the request's;
    // taking one clears it.
    virtual std::string take_status_message() = 0;
    virtual std::string take_error_message() = 0;
};

// Cookie values shown by USER keep this many bytes.
constexpr std::size_t max_user_cookie = 63;

class TopLevelTags final : public TagProvider {
public:
    TopLevelTags(TemplateStore& store, RequestInfo& request, log::Logger& log)
        : m_store(store), m_request(request), m_log(log)
    {
    }

    // Writes the value of one of the seven tags and returns true; false
    // (nothing written) for any other tag.
    bool expand_known(std::string_view tag, cgi::OutputStream& out);
    void expand_tag(std::string_view tag, cgi::OutputStream& out) override { expand_known(tag, out); }

private:
    TemplateStore& m_store;
    RequestInfo& m_request;
    log::Logger& m_log;
};

}  // namespace corvane::templates
