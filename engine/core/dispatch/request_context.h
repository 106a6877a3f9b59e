// The request context: everything one request carries through the
// dispatcher, from Main until the work after the response is done.
//
// It owns the decoded form fields, the two streams over the host's
// descriptors, the request's log buffer, the language code, the view
// number, the session hold and the session's request lock. The one-shot
// status and error messages live in the session while the request holds
// its request lock, otherwise in the context itself; a page shows the
// session's message if set, else the request's.
//
// Header lines: whatever a step wants to send before the page's content
// header (the logon's cookies) is queued with add_header_line() and goes
// out with write_header(), together with the security lines every engine
// response carries. The context is torn down in the order a request ends:
// the request lock is left before the session hold is released, and the
// log buffer reaches the engine log last.
//
// A context belongs to one request and one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/log/log_file.h"
#include "engine/core/cgi/field_table.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/sessions/session_table.h"
#include "engine/core/templates/top_level_tags.h"

namespace corvane::accounts {
class UserRecord;
}
namespace corvane::ini {
class Profile;
}
namespace corvane::lifecycle {
class Engine;
struct Request;
}  // namespace corvane::lifecycle
namespace corvane::templates {
class TemplateStore;
}

namespace corvane::dispatch {

class SessionKeys;

// Bytes of a language code kept (the engine uses two-letter codes).
constexpr std::size_t language_code_length = 2;

class RequestContext final : public templates::RequestInfo {
public:
    // Takes the request's descriptors over; keys make the keys of the
    // browser sessions this request starts.
    RequestContext(lifecycle::Engine& engine, lifecycle::Request& request, const SessionKeys& keys);
    ~RequestContext() override;
    RequestContext(const RequestContext&) = delete;
    RequestContext& operator=(const RequestContext&) = delete;

    lifecycle::Engine& engine() const { return m_engine; }
    // Corvane.ini.
    const ini::Profile& settings() const;
    templates::TemplateStore& templates() const;

    cgi::FieldTable& fields() { return m_fields; }
    const cgi::FieldTable& fields() const override { return m_fields; }
    // A CGI variable (QUERY_STRING, REMOTE_ADDR, ...); empty when missing.
    std::string_view variable(std::string_view name) const { return m_fields.variable(name); }
    cgi::InputStream& input() { return m_input; }
    cgi::OutputStream& output() { return *m_output; }
    log::RequestLog& log() { return m_log; }

    std::string_view language() const override { return m_language; }
    // Takes the first two bytes of code when they can be a language code
    // (letters, digits, "-" and "_"); anything else leaves the code as it was.
    bool set_language(std::string_view code);
    int view() const override { return m_view; }
    void set_view(int view) { m_view = view; }

    // ---- the session -----------------------------------------------------------
    sessions::Session* session() const { return m_hold.get(); }
    sessions::SessionHold& hold() { return m_hold; }
    // The session's user record with its mail; null without a session.
    accounts::UserRecord* user() const;
    void adopt(sessions::SessionHold hold);
    // A logon in a browser (also the one that follows account creation):
    // creates a session for user from REMOTE_ADDR, gives it its key, queues
    // the User, Lang and key cookies and makes it the request's session,
    // with the log prefix set. False when no session can be made (the
    // reason in refusal); then nothing is queued.
    bool start_browser_session(std::string_view user, sessions::Refusal* refusal = nullptr);
    std::string_view user_name() const override;
    // The session's request lock: taken once, left before the hold goes.
    void lock_request();
    void unlock_request();
    bool request_locked() const { return m_request_lock.owns_lock(); }

    // Set by view handlers when a mail check must follow the response.
    bool retrieval_requested = false;
    // A number no other request of this process had: a step may keep what it
    // worked out under it for the rest of the same request.
    std::uint64_t serial() const { return m_serial; }

    // ---- one-shot messages -----------------------------------------------------
    void set_status_message(std::string text);
    void set_error_message(std::string text);
    std::string take_status_message() override;
    std::string take_error_message() override;
    // Language string number (0..98) of the request's language.
    std::string language_string(int number);

    // ---- the response ----------------------------------------------------------
    void add_header_line(std::string line);
    // The queued header lines and the security lines, then content_header
    // (which ends the header block). Once per response; later calls write
    // nothing.
    void write_header(std::string_view content_header);
    // The queued lines and the security lines only, for a writer that adds
    // its own content header (the redirect page).
    void write_header_lines();
    bool header_written() const { return m_header_written; }
    bool output_open() const { return m_output->is_open(); }
    // Closes both streams: the client has its whole response.
    void close_streams();
    // The Content-Security-Policy of the response (page_policy unless a
    // view chose another); it goes out with the header lines.
    void set_content_policy(std::string_view policy) { m_content_policy = policy; }
    // The request came over TLS (HTTPS=on): cookies may be marked Secure.
    bool secure() const;

private:
    lifecycle::Engine& m_engine;
    std::uint64_t m_serial;
    const SessionKeys& m_keys;
    log::RequestLog m_log;  // first in, last out: the other members log while they go
    cgi::FieldTable m_fields;
    cgi::InputStream m_input;
    std::unique_ptr<cgi::OutputStream> m_output;
    std::string m_language;
    int m_view = 0;
    sessions::SessionHold m_hold;
    std::unique_lock<std::mutex> m_request_lock;
    std::string m_status_message;
    std::string m_error_message;
    std::vector<std::string> m_header_lines;
    std::string_view m_content_policy;
    bool m_header_written = false;
};

}  // namespace corvane::dispatch
