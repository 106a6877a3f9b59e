#include "engine/core/dispatch/request_context.h"

#include <atomic>

#include "common/platform/clock.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/response_headers.h"
#include "engine/core/dispatch/session_keys.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/templates/template_store.h"

namespace corvane::dispatch {

namespace {

cgi::Environment copy_environment(const lifecycle::Environment& environment)
{
    std::vector<std::string> variables;
    variables.reserve(environment.variables().size());
    for (const auto& [name, value] : environment.variables()) {
        std::string entry;
        entry.reserve(name.size() + 1 + value.size());
        entry.append(name).append("=").append(value);
        variables.push_back(std::move(entry));
    }
    return cgi::Environment(std::move(variables));
}

std::uint64_t body_length(const cgi::Environment& environment)
{
    std::int64_t length = cgi::content_length(environment);
    return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

std::uint64_t next_serial()
{
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

bool is_language_character(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

RequestContext::RequestContext(lifecycle::Engine& engine, lifecycle::Request& request, const SessionKeys& keys)
    : m_engine(engine),
      m_serial(next_serial()),
      m_keys(keys),
      m_log(&engine.log()),
      m_fields(copy_environment(request.environment)),
      m_input(std::move(request.input), body_length(m_fields.environment())),
      m_output(std::make_unique<cgi::FdOutputStream>(std::move(request.output)))
{
    m_language = lifecycle::text_setting(engine.settings(), "UserDefaults", "Lang");
    if (m_language.empty() || !set_language(m_language))
        m_language = "en";
}

RequestContext::~RequestContext()
{
    close_streams();
    unlock_request();
    m_hold.release(&m_log);
}

const ini::Profile& RequestContext::settings() const
{
    return m_engine.settings();
}

templates::TemplateStore& RequestContext::templates() const
{
    return m_engine.templates();
}

accounts::UserRecord* RequestContext::user() const
{
    sessions::Session* session = m_hold.get();
    return session ? session->user() : nullptr;
}

bool RequestContext::set_language(std::string_view code)
{
    std::string_view cut = code.substr(0, std::min(code.size(), language_code_length));
    if (cut.empty())
        return false;
    for (char c : cut) {
        if (!is_language_character(c))
            return false;
    }
    m_language.assign(cut);
    return true;
}

void RequestContext::adopt(sessions::SessionHold hold)
{
    unlock_request();
    m_hold = std::move(hold);
}

bool RequestContext::start_browser_session(std::string_view user, sessions::Refusal* refusal)
{
    sessions::SessionHold hold =
        m_engine.sessions().create(user, variable("REMOTE_ADDR"), m_log, sessions::SessionUse::browser, refusal);
    if (!hold)
        return false;
    std::string id = hold->id();
    std::string key = m_keys.key_for(id, hold->user()->name());
    {
        // The dispatcher keeps a session's key under its session lock, which
        // is never held for long.
        std::lock_guard lock(hold->session_lock());
        hold->key = key;
    }
    std::string language = hold->user()->settings().language;
    adopt(std::move(hold));
    m_log.set_session(id);

    std::time_t now = platform::now();
    add_header_line(user_cookie_line(user, now));
    add_header_line(lang_cookie_line(language, now));
    add_header_line(key_cookie_line(id, key, secure()));
    return true;
}

std::string_view RequestContext::user_name() const
{
    sessions::Session* session = m_hold.get();
    if (!session || !session->user())
        return {};
    return session->user()->name();
}

void RequestContext::lock_request()
{
    if (sessions::Session* session = m_hold.get(); session && !m_request_lock.owns_lock())
        m_request_lock = std::unique_lock<std::mutex>(session->request_lock());
}

void RequestContext::unlock_request()
{
    if (m_request_lock.owns_lock())
        m_request_lock.unlock();
    m_request_lock = std::unique_lock<std::mutex>();
}

void RequestContext::set_status_message(std::string text)
{
    if (session() && request_locked())
        session()->set_status_message(std::move(text));
    else
        m_status_message = std::move(text);
}

void RequestContext::set_error_message(std::string text)
{
    if (session() && request_locked())
        session()->set_error_message(std::move(text));
    else
        m_error_message = std::move(text);
}

std::string RequestContext::take_status_message()
{
    // The session's messages belong to whoever holds its request lock.
    if (session() && request_locked()) {
        if (auto text = session()->take_status_message())
            return std::move(*text);
    }
    return std::exchange(m_status_message, std::string());
}

std::string RequestContext::take_error_message()
{
    if (session() && request_locked()) {
        if (auto text = session()->take_error_message())
            return std::move(*text);
    }
    return std::exchange(m_error_message, std::string());
}

std::string RequestContext::language_string(int number)
{
    return m_engine.templates().language_string(number, m_language, m_log);
}

void RequestContext::add_header_line(std::string line)
{
    m_header_lines.push_back(std::move(line));
}

void RequestContext::write_header_lines()
{
    if (m_header_written)
        return;
    m_header_written = true;
    for (const auto& line : m_header_lines)
        m_output->write(line);
    m_header_lines.clear();
    m_output->write(security_header_lines);
    m_output->write("Content-Security-Policy: ");
    m_output->write(m_content_policy.empty() ? page_policy : m_content_policy);
    m_output->write("\r\n");
}

void RequestContext::write_header(std::string_view content_header)
{
    if (m_header_written)
        return;
    write_header_lines();
    m_output->write(content_header);
}

void RequestContext::close_streams()
{
    m_input.close();
    m_output->close();
}

bool RequestContext::secure() const
{
    return text::iequals(variable("HTTPS"), "on");
}

}  // namespace corvane::dispatch
