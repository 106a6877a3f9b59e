#include "webserver/http_connection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/poller.h"
#include "common/text/secrets.h"
#include "common/text/strings.h"
#include "webserver/cgi_environment.h"
#include "webserver/credentials.h"
#include "webserver/http_response.h"
#include "webserver/static_files.h"

extern char** environ;

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

std::atomic<int> connection_counter{0};

// CGI output and request bodies move in pieces of this size; the output of
// a CGI is read again only when less than this waits for the client.
constexpr std::size_t chunk = 64 * 1024;
// After an answer given before its body was read, what the client still
// sends is read (and dropped) this long, so that closing does not reset
// the connection under the answer.
constexpr auto linger_time = std::chrono::seconds(2);
constexpr std::size_t linger_bytes = 1u << 20;
// How long a request may wait for a CGI slot, whatever ConnectionTimeout says.
constexpr auto queue_timeout = std::chrono::minutes(5);

// Text from the request is written into the log only without control
// characters, so that a request cannot forge log lines.
std::string safe(std::string_view s)
{
    return text::without_controls(s);
}

bool peer_gone(int error)
{
    return error == EPIPE || error == ECONNRESET;
}

}  // namespace

HttpConnection::HttpConnection(ServerContext& context, fs::Accepted accepted, std::uint64_t id, Clock::time_point now)
    : m_context(context),
      m_id(id),
      m_number(++connection_counter),
      m_socket(std::move(accepted.socket)),
      m_peer(std::move(accepted.peer.address)),
      m_log(&context.log),
      m_accepted(now),
      m_last_activity(now),
      m_header_timeout(std::chrono::seconds(context.config.header_timeout_seconds())),
      m_idle_timeout(std::chrono::seconds(context.config.connection_timeout_seconds()))
{
    m_log.set_prefix(text::format("[%d] ", m_number));
}

HttpConnection::~HttpConnection()
{
    // Destroyed by the server: already off its list.
    m_state = State::Done;
    if (!m_finished)
        fail(nullptr);
    m_socket.reset();
}

void HttpConnection::start(Clock::time_point now)
{
    m_log.line(log::Level::detail, "Connection accepted from %s", m_peer.c_str());
    on_socket_event(fs::Poller::readable, now);
}

// ---- events -----------------------------------------------------------------

void HttpConnection::on_socket_event(unsigned events, Clock::time_point now)
{
    if (m_state == State::Done)
        return;
    m_last_activity = now;
    if (events & fs::Poller::readable)
        m_may_read = true;
    if (events & fs::Poller::writable)
        m_may_write = true;

    switch (m_state) {
    case State::ReadingHeaders:
        if (m_may_read)
            receive_headers();
        break;
    case State::ReceivingBody:
        if (m_may_read)
            receive_body();
        break;
    case State::Lingering:
        linger_or_close();
        return;
    default:
        break;
    }
    if (m_state == State::Done)
        return;
    // Both directions gone (a reset): nobody is left to answer. A peer that
    // only finished sending is still reading, and is answered in full.
    if ((events & fs::Poller::hung_up) && m_state != State::ReadingHeaders) {
        fail("Connection closed unexpectedly");
        return;
    }
    if (m_state == State::CgiRunning)
        pump_cgi();
    send_output();
}

void HttpConnection::on_timer(Clock::time_point now)
{
    switch (m_state) {
    case State::Done:
        return;
    case State::Lingering:
        if (now >= m_linger_until)
            close_connection();
        return;
    case State::WaitingForCheck:
        if (now >= m_wake) {
            m_last_activity = now;
            route_request();
            send_output();
        }
        return;
    case State::ReadingHeaders:
        if (now - m_accepted >= m_header_timeout) {
            m_timed_out = true;
            fail("Connection timed out");
            return;
        }
        break;
    case State::ReceivingBody:
        if (m_min_body_rate > 0) {
            auto allowed =
                m_header_timeout + std::chrono::seconds(m_body_received / static_cast<unsigned>(m_min_body_rate));
            if (now - m_body_since >= allowed) {
                m_timed_out = true;
                fail("Connection timed out");
                return;
            }
        }
        break;
    case State::CgiWaiting:
        // Waiting for another request's CGI to end is not the client's
        // silence; only a queue that does not move at all ends it.
        if (now - m_last_activity >= std::max<Clock::duration>(m_idle_timeout, queue_timeout)) {
            m_timed_out = true;
            fail("Connection timed out");
        }
        return;
    default:
        break;
    }
    if (now - m_last_activity >= m_idle_timeout) {
        m_timed_out = true;
        fail("Connection timed out");
    }
}

void HttpConnection::drop()
{
    fail("Connection dropped: too many open connections");
}

// ---- the request ------------------------------------------------------------------

bool HttpConnection::received(const fs::IoResult& r)
{
    if (r.status == fs::IoStatus::ok)
        return true;
    if (r.status == fs::IoStatus::would_block) {
        m_may_read = false;
    } else if (r.status == fs::IoStatus::closed || peer_gone(r.error)) {
        fail("Connection closed unexpectedly");
    } else {
        m_log.line(log::Level::error, "Winsock error on receive : %d", r.error);
        fail(nullptr);
    }
    return false;
}

void HttpConnection::receive_headers()
{
    for (;;) {
        std::size_t space = buffer_size - m_filled;
        if (space <= 1) {
            // The block can never be completed: the buffer is full.
            fail("Receive buffer overflow");
            return;
        }
        auto r = fs::receive_some(m_socket.get(), m_receive.data() + m_filled, space - 1);
        if (!received(r))
            return;
        std::size_t searched_from = m_filled >= 3 ? m_filled - 3 : 0;
        m_filled += r.bytes;
        std::string_view received(m_receive.data(), m_filled);
        std::size_t end = find_header_end(received.substr(searched_from));
        if (end != std::string_view::npos) {
            m_body_start = searched_from + end;
            process_request();
            return;
        }
    }
}

void HttpConnection::process_request()
{
    m_request_time = fs::now();
    // The header text ends after the first CR LF of the empty line.
    m_request = parse_request(std::string_view(m_receive.data(), m_body_start - 2));
    m_status = m_request.status;
    if (!m_request.request_line.empty() && m_log.enabled(log::Level::detail))
        m_log.line(log::Level::detail, "%s", safe(text::mask_request_line(m_request.request_line)).c_str());
    if (!m_request.valid()) {
        m_log.line(log::Level::detail, "Invalid request");
        prepare_error(m_status);
        return;
    }
    std::int64_t arrived = static_cast<std::int64_t>(m_filled - m_body_start);
    if (m_request.is_post() && m_request.content_length > arrived)
        m_body_unread = true;
    std::int64_t limit = m_context.config.max_request_body();
    if (m_request.is_post() && m_request.content_length > limit) {
        m_log.line(log::Level::routine, "Request body of %lld bytes refused (MaxRequestBody %lld)",
                   static_cast<long long>(m_request.content_length), static_cast<long long>(limit));
        prepare_error(413);
        return;
    }
    route_request();
}

void HttpConnection::route_request()
{
    Route route = m_context.router.route(m_request, m_peer, m_log, m_credentials, Clock::now());
    switch (route.kind) {
    case Route::Kind::wait:
        m_state = State::WaitingForCheck;
        m_wake = Clock::now() + route.wait;
        return;
    case Route::Kind::error:
        prepare_error(route.status);
        return;
    case Route::Kind::static_file:
        serve_static(route.url_path);
        return;
    case Route::Kind::cgi:
        start_cgi_input(std::move(route));
        return;
    }
}

void HttpConnection::serve_static(const std::string& url_path)
{
    auto answer = answer_static(m_context.config.html_dir(), m_context.config.def_html_file(), url_path, m_request,
                                m_request_time, m_context.mime);
    if (answer.status == 404)
        m_log.line(log::Level::routine, "Could not open file : %s", safe(url_path).c_str());
    if (answer.status != 200) {
        prepare_error(answer.status);
        return;
    }
    m_status = 200;
    m_header_length = answer.header.size();
    if (m_log.enabled(log::Level::detail))
        m_log.line(log::Level::detail, "Sending %s", safe(answer.file_path).c_str());
    m_state = State::SendingResponse;
    m_out.append(std::move(answer.header));
    if (answer.file)
        m_out.set_file(std::move(answer.file), 0, answer.length);
}

void HttpConnection::prepare_error(int status)
{
    m_status = status;
    auto response = error_response(status);
    m_header_length = response.header.size();
    m_state = State::SendingResponse;
    m_out.clear();
    m_out.append(std::move(response.header));
    m_out.append(std::move(response.body));
}

// ---- CGI ------------------------------------------------------------------------------

void HttpConnection::start_cgi_input(Route route)
{
    m_route = std::move(route);
    m_status = 200;
    if (!m_request.is_post()) {
        submit_cgi();
        return;
    }
    auto file = fs::create_unnamed_file(m_context.config.temp_dir(), "CGI");
    if (!file) {
        m_log.line(log::Level::error, "Could not create CGI input file!");
        prepare_error(500);
        return;
    }
    m_input = std::move(*file);
    m_body_expected = m_request.content_length;
    std::size_t arrived = m_filled - m_body_start;
    std::size_t take =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(arrived), m_body_expected));
    if (!write_input(m_receive.data() + m_body_start, take))
        return;
    m_body_expected -= static_cast<std::int64_t>(take);
    if (m_body_expected > 0) {
        m_state = State::ReceivingBody;
        m_body_since = Clock::now();
        m_min_body_rate = m_context.config.min_body_rate();
        receive_body();
        return;
    }
    (void)fs::rewind_file(m_input.get());
    submit_cgi();
}

bool HttpConnection::write_input(const char* data, std::size_t size)
{
    auto written = fs::write_all(m_input.get(), std::string_view(data, size));
    if (!written) {
        // A CGI must never see a body cut short (a full disk would
        // otherwise store a truncated upload as if it were whole).
        m_log.line(log::Level::error, "Could not write CGI input file, error code %d", written.error().code);
        m_input.reset();
        prepare_error(500);
        return false;
    }
    return true;
}

void HttpConnection::receive_body()
{
    static char buffer[chunk];  // the loop runs on one thread
    while (m_body_expected > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(m_body_expected, chunk));
        auto r = fs::receive_some(m_socket.get(), buffer, want);
        if (!received(r))
            return;
        m_body_received += r.bytes;
        if (!write_input(buffer, r.bytes))
            return;
        m_body_expected -= static_cast<std::int64_t>(r.bytes);
    }
    m_body_unread = false;
    (void)fs::rewind_file(m_input.get());
    submit_cgi();
}

void HttpConnection::submit_cgi()
{
    CgiVariables v;
    if (auto local = fs::local_address(m_socket.get())) {
        v.server_name = local->address;
        v.server_port = local->port;
    }
    v.remote_addr = m_peer;
    v.user_agent = m_request.user_agent.value_or("");
    v.request_method = m_request.method;
    v.script_name = m_route.script_name;
    v.path_info = m_route.path_info;
    v.query_string = m_request.query;
    if (m_request.content_type) {
        v.content_type = m_request.content_type;
        v.content_length = m_request.content_length;
    }
    v.cookie = m_request.cookie;
    v.host = m_request.host;
    v.origin = m_request.origin;
    v.referer = m_request.referer;
    v.fetch_site = m_request.fetch_site;

    CgiBridge::Start start;
    start.library = m_route.library;
    start.program = m_route.program;
    start.input = std::move(m_input);
    start.environment = build_environment(environ, v);
    auto submitted = m_context.bridge.submit(std::move(start), *this);
    switch (submitted.outcome) {
    case CgiBridge::Outcome::failed:
        cgi_failed(submitted.log_line);
        return;
    case CgiBridge::Outcome::waiting:
        m_run = submitted.run;
        m_state = State::CgiWaiting;
        return;
    case CgiBridge::Outcome::started:
        m_run = submitted.run;
        cgi_started();
        return;
    }
}

void HttpConnection::cgi_started()
{
    const std::string& what = m_route.library ? m_route.library->file_path : m_route.program;
    m_log.line(log::Level::detail, "Running %s", what.c_str());
    m_state = State::CgiRunning;
    // The status line is always 200 and the CGI's own header lines follow
    // it directly; it waits for the CGI's first bytes so that both go out
    // in one segment.
    m_prefix = cgi_prefix(m_request_time);
    m_header_length = m_prefix.size();
}

void HttpConnection::cgi_failed(const std::string& log_line)
{
    m_run = nullptr;
    m_log.line(log::Level::error, "%s", log_line.c_str());
    prepare_error(500);
    send_output();
}

void HttpConnection::cgi_readable()
{
    if (m_state != State::CgiRunning)
        return;
    m_last_activity = Clock::now();
    pump_cgi();
    send_output();
}

void HttpConnection::pump_cgi()
{
    while (m_run && !m_cgi_ended && m_out.buffered() < chunk) {
        std::string data;
        auto r = m_run->read(data, chunk);
        if (!data.empty() || r == CgiRun::Read::ended) {
            if (!m_prefix.empty())
                m_out.append(std::move(m_prefix));
            m_prefix.clear();
            m_out.append(std::move(data));
        }
        if (r == CgiRun::Read::ended)
            m_cgi_ended = true;
        if (r != CgiRun::Read::data)
            break;
    }
}

// ---- sending and the end ------------------------------------------------------------

void HttpConnection::send_output()
{
    while (m_state == State::SendingResponse || m_state == State::CgiRunning) {
        if (!m_out.empty()) {
            if (!m_may_write)
                return;
            auto r = m_out.send(m_socket.get());
            m_sent += r.bytes;
            if (r.status == fs::IoStatus::would_block) {
                m_may_write = false;
                return;
            }
            if (r.status == fs::IoStatus::failed) {
                if (peer_gone(r.error)) {
                    fail("Connection closed unexpectedly");
                } else {
                    m_log.line(log::Level::error, "Winsock error on send : %d", r.error);
                    fail(nullptr);
                }
                return;
            }
        }
        if (m_state == State::SendingResponse) {
            complete();
            return;
        }
        // A CGI: more output, or the end of it.
        pump_cgi();
        if (m_out.empty()) {
            if (m_cgi_ended)
                complete();
            return;
        }
    }
}

void HttpConnection::complete()
{
    m_success = true;
    close_connection();
}

void HttpConnection::fail(const char* log_line)
{
    if (log_line)
        m_log.line(log::Level::error, "%s", log_line);
    m_success = false;
    m_body_unread = false;
    close_connection();
}

void HttpConnection::close_connection()
{
    if (!m_finished) {
        m_finished = true;
        std::int64_t bytes = static_cast<std::int64_t>(m_sent) - static_cast<std::int64_t>(m_header_length);
        if (bytes < 0)
            bytes = 0;
        m_out.clear();
        m_log.line(log::Level::detail, "Connection completed %s, %lld bytes transferred",
                   m_success ? "successfully" : "unsuccessfully", static_cast<long long>(bytes));
        if (m_status != 0) {
            std::string user = m_credentials ? std::string(user_of(*m_credentials)) : std::string();
            std::string line = text::mask_request_line(m_request.request_line);
            m_context.access_log.write(format_access_line(m_peer, user, m_request_time, line, m_status, bytes));
        }
        if (m_run) {
            if (m_run->output_open())
                m_log.line(log::Level::detail, "Flushing CGI pipe");
            (void)m_context.bridge.release(m_run, m_timed_out);
            m_run = nullptr;
        }
        m_input.reset();
        m_log.flush();
        if (m_socket) {
            // What the client sent beyond the request is read and dropped,
            // so that closing does not reset the connection under the
            // response (closing sends the end of our stream); a body nobody
            // read is waited for a little, with our side already ended.
            auto status = fs::discard_received(m_socket.get(), linger_bytes);
            if (m_body_unread && (status == fs::IoStatus::would_block || status == fs::IoStatus::ok)) {
                fs::shutdown_sending(m_socket.get());
                m_state = State::Lingering;
                m_linger_until = Clock::now() + linger_time;
                return;
            }
        }
    }
    m_socket.reset();
    if (m_state != State::Done) {
        m_state = State::Done;
        m_context.finished.push_back(m_id);
    }
}

void HttpConnection::linger_or_close()
{
    auto status = fs::discard_received(m_socket.get(), linger_bytes);
    if ((status == fs::IoStatus::would_block || status == fs::IoStatus::ok) && Clock::now() < m_linger_until)
        return;
    close_connection();
}

}  // namespace corvane::webserver
