#include "engine/core/dispatch/dispatcher.h"

#include <algorithm>
#include <optional>

#include "common/ini/profile.h"
#include "common/log/log_texts.h"
#include "common/log/logged_text.h"
#include "common/text/secrets.h"
#include "common/text/strings.h"
#include "engine/core/accounts/account_names.h"
#include "engine/core/accounts/logon.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/dispatch/account_creation.h"
#include "engine/core/dispatch/cross_site.h"
#include "engine/core/dispatch/message_format.h"
#include "engine/core/dispatch/quota.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/response_headers.h"
#include "engine/core/dispatch/session_tags.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/templates/template_store.h"

namespace corvane::dispatch {

namespace {

// How much of a request's own text a log line shows (names: log::logged_name).
constexpr std::size_t max_logged_address = 63;
constexpr std::size_t max_logged_query = 512;
constexpr std::size_t max_logged_field = 16;
constexpr std::size_t max_logged_url = 120;

// Language strings of the flow.
constexpr int string_creation_disabled = 11;
constexpr int string_creation_password = 12;
constexpr int string_too_many_sessions = 13;
constexpr int string_bad_logon = 14;
constexpr int string_session_expired = 15;
constexpr int string_inactive = 16;
constexpr int string_old_session = 17;
constexpr int string_logged_out = 18;
constexpr int string_no_message = 45;
constexpr int string_no_template = 55;
constexpr int string_directory_unavailable = 69;
constexpr int string_logons_held_off = 95;
constexpr int string_account_sessions = 96;
constexpr int string_cross_site = 97;

// Text from a request as a log line may show it.
std::string shown(std::string_view text, std::size_t max)
{
    return log::logged(text, max);
}

enum class Next { page, session, done };

// One request's way through the dispatcher.
class Flow {
public:
    Flow(const Dispatcher& dispatcher, RequestContext& request)
        : m_dispatcher(dispatcher),
          m_steps(dispatcher.steps()),
          m_request(request),
          m_fields(request.fields()),
          m_log(request.log()),
          m_sessions(request.engine().sessions())
    {
    }

    void run();

private:
    void read_fields();
    void choose_language();
    bool cross_site_refused();
    void find_session();

    Next without_session();
    void account_creation_gate();
    void logon_refused();
    void rescue_draft();
    Next logon();
    void status_check(accounts::LogonResult result);
    accounts::ThrottleSettings throttle_settings() const;
    std::string failure_name() const;
    void held_off(std::time_t wait);
    void count_outcome(accounts::LogonResult result, const accounts::ThrottleSettings& settings);

    bool with_session();
    void logout();
    bool logout_page_exists();
    void common_actions();

    void page_output();
    void write_redirect_page(const std::string& name);
    void write_page_without_template();
    void expand_page(templates::TemplateStore& store, const std::string& text);

    void after_response();
    void mail_check_after_response();
    void keep_alive();

    void status(int number) { m_request.set_status_message(m_request.language_string(number)); }
    bool present(std::string_view name) const { return m_fields.present(name); }
    std::string_view cookies() const { return m_request.variable("HTTP_COOKIE"); }
    std::string remote_address() const { return std::string(m_request.variable("REMOTE_ADDR")); }
    // A logon by GET carries the password in the query: secret fields are
    // masked before anything of it reaches the log.
    std::string logged_query() const
    {
        return shown(text::mask_secret_fields(m_request.variable("QUERY_STRING")), max_logged_query);
    }
    templates::PageRequest page_request(int view);

    const Dispatcher& m_dispatcher;
    const RequestSteps& m_steps;
    RequestContext& m_request;
    cgi::FieldTable& m_fields;
    log::RequestLog& m_log;
    sessions::SessionTable& m_sessions;
    bool m_key_refused = false;
    std::string m_theme;
};

void Flow::run()
{
    read_fields();
    choose_language();
    m_request.set_view(view_number(m_fields.value("View")));
    if (cross_site_refused()) {
        page_output();
        m_request.close_streams();
        return;
    }
    find_session();

    Next next = m_request.session() ? Next::session : without_session();
    if (next == Next::done)
        return;
    if (next == Next::session && !with_session())
        return;
    page_output();
    m_request.close_streams();
    if (m_request.session())
        after_response();
}

void Flow::read_fields()
{
    for (const char* name : {"Number", "AddrNum", "GlobalNum"})
        m_fields.register_multi_value(name);
    m_fields.parse_query_string();
    std::int64_t length = cgi::content_length(m_fields.environment());
    switch (m_fields.parse_body(m_request.input())) {
    case cgi::BodyResult::too_large:
        m_log.line(log::Level::notable, "Request body of %lld bytes is too large: only the query string is read",
                   static_cast<long long>(length));
        break;
    case cgi::BodyResult::parsed:
        if (m_request.input().short_read())
            m_log.line(log::Level::routine, "Request body ended before its %lld bytes", static_cast<long long>(length));
        break;
    case cgi::BodyResult::not_form:
        break;
    }
}

void Flow::choose_language()
{
    std::string_view cookie = cgi::cookie_value(cookies(), "Lang");
    if (!cookie.empty() && !m_request.set_language(cookie))
        m_log.line(log::Level::routine, "Lang cookie \"%s\" is not a language code",
                   shown(cookie, max_logged_field).c_str());
    const std::string& field = m_fields.value("Lang");
    if (!field.empty() && !m_request.set_language(field))
        m_log.line(log::Level::routine, "Lang field \"%s\" is not a language code",
                   shown(field, max_logged_field).c_str());
}

bool Flow::cross_site_refused()
{
    // Forms change state; a logon changes whose mail the browser shows.
    bool post = text::iequals(m_request.variable("REQUEST_METHOD"), "POST");
    if (!post && !present("User") && !present("Password"))
        return false;
    RequestOrigin origin{m_request.variable("HTTP_HOST"), m_request.variable("HTTP_ORIGIN"),
                         m_request.variable("HTTP_REFERER"), m_request.variable("HTTP_SEC_FETCH_SITE")};
    if (!from_another_site(origin))
        return false;
    m_log.line(log::Level::notable,
               "Request from another site refused: Origin \"%s\", Referer \"%s\", Host \"%s\", from %s",
               shown(text::mask_request_line(origin.origin), max_logged_url).c_str(),
               shown(text::mask_request_line(origin.referer), max_logged_url).c_str(),
               shown(origin.host, max_logged_url).c_str(), shown(remote_address(), max_logged_address).c_str());
    status(string_cross_site);
    m_fields.remove("View");
    m_request.set_view(view_logon);
    return true;
}

void Flow::find_session()
{
    if (!present("Session"))
        return;
    std::string id = m_fields.value("Session");
    if (!sessions::is_session_id(id)) {
        if (!id.empty())
            m_log.line(log::Level::routine, "Session \"%s\" is not a session id", shown(id, max_logged_field).c_str());
        return;
    }
    sessions::SessionHold hold = m_sessions.find_by_id(id);
    if (!hold) {
        m_log.line(log::Level::routine, "Session %s not found", id.c_str());
        return;
    }
    // The dispatcher reads and writes the key under the session lock, which
    // is never held for long, so this check does not wait for a running
    // request of the session.
    std::string key;
    {
        std::lock_guard lock(hold->session_lock());
        key = hold->key;
    }
    if (!key.empty() && !SessionKeys::same(key, cgi::cookie_value(cookies(), key_cookie_name(id)))) {
        m_log.line(log::Level::notable, "Session %s refused: the request does not carry the session's key", id.c_str());
        hold.release(&m_log);
        m_key_refused = true;
        return;
    }
    m_request.adopt(std::move(hold));
}

// ---- without a session ---------------------------------------------------------

Next Flow::without_session()
{
    if (m_key_refused) {
        // Answered as for an expired session; the session itself stays.
        status(string_session_expired);
        m_fields.remove("View");
        m_request.set_view(view_logon);
        return Next::page;
    }
    if (present("NewAccount")) {
        account_creation_gate();
        return Next::page;
    }
    if (m_request.view() == view_new_user) {
        m_steps.new_user.run(m_request);
        return Next::page;
    }

    // Only a logon with a user name can be a guess; one without is refused
    // without a look at any account.
    bool attempt = !m_fields.missing_or_empty("User");
    accounts::ThrottleSettings throttle = throttle_settings();
    if (attempt) {
        std::time_t wait =
            m_dispatcher.throttle().wait(remote_address(), accounts::cut_user_name(m_fields.value("User")), throttle);
        if (wait > 0) {
            held_off(wait);
            return m_request.view() == view_status_check ? Next::done : Next::page;
        }
    }
    auto context = m_request.engine().accounts(&m_log);
    auto result = accounts::check_logon(context, m_fields.value("User"), m_fields.value("Password"));
    if (attempt)
        count_outcome(result, throttle);
    if (m_request.view() == view_status_check) {
        status_check(result);
        return Next::done;
    }
    switch (result) {
    case accounts::LogonResult::accepted:
        return logon();
    case accounts::LogonResult::inactive:
        status(string_inactive);
        break;
    case accounts::LogonResult::directory_unavailable:
        status(string_directory_unavailable);
        break;
    case accounts::LogonResult::refused:
        logon_refused();
        break;
    }
    m_request.set_view(view_logon);
    return Next::page;
}

accounts::ThrottleSettings Flow::throttle_settings() const
{
    const ini::Profile& ini = m_request.settings();
    accounts::ThrottleSettings s;
    s.account_failures = lifecycle::number_setting(ini, "LogonThrottle", "AccountFailures");
    s.address_failures = lifecycle::number_setting(ini, "LogonThrottle", "AddressFailures");
    s.first_delay = lifecycle::number_setting(ini, "LogonThrottle", "FirstDelay");
    s.max_delay = lifecycle::number_setting(ini, "LogonThrottle", "MaxDelay");
    s.forget_minutes = lifecycle::number_setting(ini, "LogonThrottle", "ForgetTime");
    return s.bounded();
}

std::string Flow::failure_name() const
{
    // As the web servers write it: a quote in the name would make the line
    // harder to read, though never to match (the address comes last).
    std::string name = log::logged_name(m_fields.value("User"));
    std::replace(name.begin(), name.end(), '"', '\'');
    return name;
}

void Flow::held_off(std::time_t wait)
{
    // A failure like any other for whoever watches the log; the password
    // was not looked at, so even the right one gets no further.
    m_log.line(log::Level::notable, log::texts::authentication_failure, failure_name().c_str(),
               shown(remote_address(), max_logged_address).c_str());
    m_request.add_header_line("Retry-After: " + std::to_string(wait) + "\r\n");
    if (m_request.view() == view_status_check) {
        m_request.write_header(plain_text_header);
        m_request.output().write("Invalid Login\n");
        m_request.close_streams();
        return;
    }
    std::string text = m_request.language_string(string_logons_held_off);
    m_request.set_status_message(
        format_language_string(string_logons_held_off, text, {static_cast<std::int64_t>(wait)}, m_log));
    m_request.set_view(view_logon);
}

void Flow::count_outcome(accounts::LogonResult result, const accounts::ThrottleSettings& settings)
{
    std::string remote = remote_address();
    std::string account = accounts::cut_user_name(m_fields.value("User"));
    accounts::LogonThrottle& throttle = m_dispatcher.throttle();
    if (result == accounts::LogonResult::accepted) {
        throttle.succeeded(remote, account);
        return;
    }
    // An inactive account or an unreachable directory says nothing about
    // the password.
    if (result != accounts::LogonResult::refused)
        return;
    std::string where = shown(remote, max_logged_address);
    m_log.line(log::Level::notable, log::texts::authentication_failure, failure_name().c_str(), where.c_str());
    if (std::time_t wait = throttle.failed(remote, account, settings); wait > 0)
        m_log.line(log::Level::notable, "Logons from %s held off for %lld s after repeated failures", where.c_str(),
                   static_cast<long long>(wait));
}

void Flow::account_creation_gate()
{
    auto gate =
        account_creation_allowed(m_request.settings(), m_request.engine().codec(), m_fields.value("Password"), m_log);
    switch (gate) {
    case CreationGate::open:
        m_request.set_view(view_new_user);
        return;
    case CreationGate::disabled:
        status(string_creation_disabled);
        break;
    case CreationGate::wrong_password:
        status(string_creation_password);
        break;
    }
    m_request.set_view(view_error);
}

void Flow::logon_refused()
{
    if (present("User")) {
        const std::string& user = m_fields.value("User");
        std::string name = log::logged_name(user);
        m_log.line(log::Level::notable, log::texts::bad_logon, name.c_str());
        if (!user.empty() && !accounts::is_valid_user_name(accounts::cut_user_name(user)))
            m_log.line(log::Level::notable, "The name %s cannot name an account", name.c_str());
        status(string_bad_logon);
        return;
    }
    if (!present("Session"))
        return;
    // A request of a session that has ended.
    status(string_session_expired);
    int asked = m_request.view();
    m_fields.remove("View");
    if ((asked == view_compose || asked == view_compose_advanced) && !m_fields.missing_or_empty("ComposeUser") &&
        !m_fields.missing_or_blank("Body") && !present("Cancel"))
        rescue_draft();
}

void Flow::rescue_draft()
{
    // Only the browser of that user's session may hand a text over: anyone
    // else could otherwise place drafts into any account.
    std::string id = m_fields.value("Session");
    std::string user = accounts::cut_user_name(m_fields.value("ComposeUser"));
    if (sessions::is_session_id(id) && accounts::is_valid_user_name(user) &&
        m_dispatcher.keys().matches(id, user, cgi::cookie_value(cookies(), key_cookie_name(id)))) {
        m_steps.compose.rescue_draft(m_request, user);
        return;
    }
    m_log.line(log::Level::notable, "Draft for user %s not saved: the request does not come from that user's session",
               log::logged_name(user).c_str());
}

Next Flow::logon()
{
    std::string user = m_fields.value("User");
    std::string name = log::logged_name(user);
    if (sessions::SessionHold old = m_sessions.find_by_user(user)) {
        std::string old_id = old->id();
        m_log.line(log::Level::detail, log::texts::old_session_found, name.c_str(), old_id.c_str());
        if (!old.kill(&m_log)) {
            m_log.line(log::Level::error, log::texts::old_session_not_killed, name.c_str());
            status(string_old_session);
            m_request.set_view(view_logon);
            return Next::page;
        }
        m_log.line(log::Level::detail, log::texts::old_session_killed, name.c_str());
    }
    sessions::Refusal refusal = sessions::Refusal::none;
    if (!m_request.start_browser_session(user, &refusal)) {
        if (refusal == sessions::Refusal::account_full) {
            status(string_account_sessions);
            m_log.line(log::Level::error, log::texts::too_many_account_sessions, name.c_str());
        } else {
            status(string_too_many_sessions);
            m_log.line(log::Level::error, log::texts::too_many_sessions, name.c_str());
        }
        m_request.set_view(view_logon);
        return Next::page;
    }
    m_log.line(log::Level::notable, log::texts::session_created, name.c_str(),
               shown(remote_address(), max_logged_address).c_str());
    if (!m_fields.missing_or_blank("View")) {
        std::string asked = m_fields.value("View");
        m_fields.set("FrameView", asked);
    }
    return Next::session;
}

void Flow::status_check(accounts::LogonResult result)
{
    m_request.write_header(plain_text_header);
    cgi::OutputStream& out = m_request.output();
    if (result != accounts::LogonResult::accepted) {
        out.write("Invalid Login\n");
        m_request.close_streams();
        return;
    }
    std::string user = m_fields.value("User");
    std::string name = log::logged_name(user);
    std::string remote = remote_address();
    std::string where = shown(remote, max_logged_address);

    if (present("Login")) {
        // A session (without a key) for the client to use. A client that
        // logs on again gets the session it already has, so that polling
        // with Login does not pile up sessions of the account.
        if (sessions::SessionHold reused = m_sessions.find_by_user(user, sessions::SessionUse::client_program)) {
            m_sessions.touch(*reused);
            out.write("Active Session: " + reused->id() + "\n");
            reused.release(&m_log);
        } else if (sessions::SessionHold hold =
                       m_sessions.create(user, remote, m_log, sessions::SessionUse::client_program)) {
            m_log.set_session(hold->id());
            m_log.line(log::Level::notable, log::texts::status_check_created_session, name.c_str(), where.c_str());
            out.write("Active Session: " + hold->id() + "\n");
            hold.release(&m_log);
        } else {
            m_log.line(log::Level::error, log::texts::no_status_check_session, name.c_str());
        }
    } else if (sessions::SessionHold existing = m_sessions.find_by_user(user)) {
        out.write("Active Session: " + existing->id() + "\n");
        existing.release(&m_log);
    } else if (sessions::SessionHold hold =
                   m_sessions.create(user, remote, m_log, sessions::SessionUse::status_check)) {
        m_request.adopt(std::move(hold));
        m_request.lock_request();
        sessions::Session& session = *m_request.session();
        m_log.set_session(session.id());
        m_log.line(log::Level::routine, log::texts::status_check_session, name.c_str(), where.c_str());
        if (mail_fetch_allowed(m_request.settings(), session.user()->mail_totals()))
            m_steps.mail_check.status_check(m_request);
        m_steps.mailbox.save_index(m_request);
        auto folders = m_steps.mailbox.folder_counts(m_request);
        out.write(std::to_string(folders.size()) + "\n");
        for (const auto& folder : folders) {
            out.write(text::without_controls(folder.name));
            out.write_format("\t%lld\t%lld\n", static_cast<long long>(folder.messages),
                             static_cast<long long>(folder.unread));
        }
        m_request.unlock_request();
        m_request.hold().kill(&m_log);
    } else {
        m_log.line(log::Level::error, log::texts::no_status_check_session, name.c_str());
    }
    m_request.close_streams();
}

// ---- with a session ------------------------------------------------------------

bool Flow::with_session()
{
    sessions::Session& session = *m_request.session();
    m_log.set_session(session.id());
    int view = m_request.view();
    if (view == view_logout) {
        logout();
        return true;
    }
    // A mail check of an earlier request is still running: the page that
    // waits for it, at once and without the request lock.
    if (session.retrieval_pending.load() && (view == view_list || view == view_message)) {
        write_redirect_page(std::string(view_name(view)));
        m_request.hold().give_back();
        m_request.close_streams();
        return false;
    }

    m_request.lock_request();
    if (is_compose_view(view) && cgi::content_length(m_fields.environment()) > 0) {
        if (!text::iequals(m_request.variable("CONTENT_TYPE"), cgi::FieldTable::form_type))
            m_steps.compose.receive_upload(m_request);
        else if (present("Body"))
            m_steps.compose.store_text(m_request);
    }
    m_log.line(log::Level::routine, log::texts::begin_request, view, logged_query().c_str());
    if (session.user())
        m_request.set_language(session.user()->settings().language);
    keep_alive();

    if (session.current_view() == view_none || present("Frames")) {
        // The first page of a session is the frame set; the view asked for
        // reaches it through FrameView.
        m_request.set_view(view_main);
        session.set_current_view(view_list);
        session.frame_view = view_list;
    } else {
        common_actions();
    }
    return true;
}

void Flow::logout()
{
    sessions::Session& session = *m_request.session();
    session.retrieval_pending.store(false);
    m_log.line(log::Level::routine, log::texts::logging_out, log::logged_name(session.user_name()).c_str());
    std::string id = session.id();
    bool had_key = false;
    {
        std::lock_guard lock(session.session_lock());
        had_key = !session.key.empty();
    }
    m_request.hold().kill(&m_log);
    if (had_key)
        m_request.add_header_line(key_cookie_removal_line(id, m_request.secure()));
    m_fields.remove("View");
    status(string_logged_out);
    if (!logout_page_exists())
        m_request.set_view(view_logon);
}

bool Flow::logout_page_exists()
{
    // The same lookup the page output makes, so the two always agree.
    templates::PageRequest request = page_request(view_logout);
    std::string key = templates::template_key(view_name(view_logout), templates::TemplateKind::page, request);
    return m_request.templates().set_for(request.language, m_log).find(key) != nullptr;
}

void Flow::common_actions()
{
    MailboxActions& mailbox = m_steps.mailbox;
    int view = m_request.view();
    if ((view == view_message || view == view_attachment) && !m_fields.missing_or_empty("Number")) {
        std::string number = m_fields.value("Number");
        if (!mailbox.select_message(m_request, number)) {
            m_request.set_view(view_list);
            m_request.set_error_message(m_request.language_string(string_no_message));
        }
    }
    if (present("Change") && !m_fields.missing_or_empty("DestFolder"))
        mailbox.change_folder(m_request, std::string(m_fields.value("DestFolder")));
    else if (!m_fields.missing_or_empty("Folder"))
        mailbox.change_folder(m_request, std::string(m_fields.value("Folder")));
    if (!m_fields.missing_or_empty("ToInbox"))
        mailbox.select_inbox(m_request);

    if (present("MarkRead") || present("MarkUnread"))
        mailbox.mark(m_request, present("MarkRead"));
    else if (present("Delete"))
        mailbox.move(m_request, MailboxActions::Removal::remove);
    else if (present("Move"))
        mailbox.move(m_request, MailboxActions::Removal::move);
    else if (present("Copy"))
        mailbox.copy(m_request);

    m_steps.views.run(m_request);
    if (is_compose_view(m_request.view()))
        m_steps.compose.finish(m_request);
}

// ---- the page --------------------------------------------------------------------

templates::PageRequest Flow::page_request(int view)
{
    sessions::Session* session = m_request.session();
    if (session && session->user())
        m_theme = session->user()->settings().theme;
    else
        m_theme = lifecycle::text_setting(m_request.settings(), "UserDefaults", "Theme");
    return templates::PageRequest{m_request.language(), m_theme, view};
}

void Flow::page_output()
{
    if (!m_request.output_open())
        return;
    int view = m_request.view();
    std::string name =
        view != view_none ? std::string(view_name(view)) : shown(m_fields.value("View"), cgi::FieldTable::max_name);
    sessions::Session* session = m_request.session();
    if (session && session->retrieval_pending.load()) {
        write_redirect_page(name);
        return;
    }
    m_request.write_header(view == view_main || view == view_options ? cached_page_header : page_header);

    templates::TemplateStore& store = m_request.templates();
    const std::string* text =
        templates::find_template(store, page_request(view), name, templates::TemplateKind::page, m_log);
    // The Error page lies in the theme like every page but the logon and
    // logout pages, whatever view failed.
    if (!text) {
        text = templates::find_template(store, page_request(view_error), "Error", templates::TemplateKind::page, m_log);
        // The page is the Error page now, for its tags too (its Continue).
        if (text)
            m_request.set_view(view_error);
    }
    if (!text) {
        write_page_without_template();
        return;
    }
    if (m_request.view() == view_message && !m_steps.mailbox.has_current_message(m_request))
        m_request.set_view(view_list);
    if (m_request.view() == view_list && session)
        m_steps.list_order.sort_current_folder(m_request);
    expand_page(store, *text);
}

void Flow::expand_page(templates::TemplateStore& store, const std::string& text)
{
    sessions::Session* session = m_request.session();
    std::optional<ini::Profile> user_ini;
    if (session && session->user())
        user_ini.emplace(session->user()->ini_path());
    const ini::Profile* user = user_ini ? &*user_ini : nullptr;
    if (session) {
        SessionTags tags(store, m_request, m_steps.tags);
        templates::expand(text, templates::ExpandContext{m_request.output(), tags, &m_request.settings(), user});
    } else {
        templates::TopLevelTags tags(store, m_request, m_log);
        templates::expand(text, templates::ExpandContext{m_request.output(), tags, &m_request.settings(), user});
    }
}

void Flow::write_redirect_page(const std::string& name)
{
    m_request.write_header_lines();
    templates::TemplateStore& store = m_request.templates();
    sessions::Session* session = m_request.session();
    std::optional<ini::Profile> user_ini;
    if (session && session->user())
        user_ini.emplace(session->user()->ini_path());
    SessionTags tags(store, m_request, m_steps.tags);
    templates::write_redirect_page(
        store, page_request(m_request.view()), name,
        templates::ExpandContext{m_request.output(), tags, &m_request.settings(), user_ini ? &*user_ini : nullptr},
        m_log);
}

void Flow::write_page_without_template()
{
    // Not even the Error page exists: a bare page still tells the user why.
    status(string_no_template);
    std::string message = m_request.take_status_message();
    cgi::OutputStream& out = m_request.output();
    out.write("<!DOCTYPE html>\n<html><head><meta charset=\"UTF-8\"><title>Corvane</title></head><body><p>");
    cgi::escape_html_formatted(message.empty() ? "This page cannot be shown." : message, out);
    out.write("</p></body></html>\n");
}

// ---- after the response -----------------------------------------------------------

void Flow::after_response()
{
    sessions::Session& session = *m_request.session();
    int view = m_request.view();
    if (view == view_message)
        m_steps.read_confirmation.after_response(m_request);
    if (m_request.retrieval_requested)
        mail_check_after_response();
    else
        session.just_retrieved.store(false);
    m_steps.mailbox.save_index(m_request);

    int current = session.current_view();
    if (view != current && view >= view_list && view <= view_addr_book && view != view_attachment) {
        if (current != view_none && current != session.previous_view)
            session.previous_view = current;
        session.set_current_view(view);
    }
    m_log.line(log::Level::routine, log::texts::end_request, view, logged_query().c_str());
    m_request.unlock_request();
    m_request.hold().release(&m_log);
}

void Flow::mail_check_after_response()
{
    sessions::Session& session = *m_request.session();
    if (!session.retrieval_pending.load())
        return;
    keep_alive();
    if (m_request.view() == view_list)
        m_steps.mail_check.list_view(m_request);
    else if (m_request.view() == view_message)
        m_steps.mail_check.message_view(m_request);
    session.retrieval_pending.store(false);
    keep_alive();
}

void Flow::keep_alive()
{
    if (!present("NoKeepAlive"))
        m_sessions.touch(*m_request.session());
}

}  // namespace

Dispatcher::Dispatcher(RequestSteps steps) : m_steps(steps) {}

void Dispatcher::handle(lifecycle::Request& request)
{
    if (!request.engine.running())
        return;
    RequestContext context(request.engine, request, m_keys);
    Flow(*this, context).run();
}

}  // namespace corvane::dispatch
