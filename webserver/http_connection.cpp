#include "webserver/http_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "webserver/cgi_environment.h"
#include "webserver/credentials.h"
#include "webserver/http_response.h"

extern char** environ;

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

std::atomic<int> connection_counter{0};

constexpr std::uint32_t loopback = 0x7f000001;  // 127.0.0.1, host order

// Text from the request is written into the log only without control
// characters, so that a request cannot forge log lines.
std::string safe(std::string_view s)
{
    return text::without_controls(s);
}

std::string extension_of_file(const std::string& path)
{
    std::string name = fs::file_name_of(path);
    auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

std::string dotted(std::uint32_t address)
{
    char text_address[INET_ADDRSTRLEN] = "";
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, text_address, sizeof text_address);
    return text_address;
}

// ---- EventSocket ----------------------------------------------------------------

EventSocket::EventSocket(fs::UniqueFd socket, std::uint32_t peer_address)
    : m_socket(std::move(socket)), m_peer(peer_address)
{
}

void EventSocket::set_output(const std::string& bytes)
{
    m_output = bytes.data();
    m_output_size = bytes.size();
}

long EventSocket::on_write()
{
    long total = 0;
    while (m_writable && m_output_size > 0) {
        ssize_t n = ::send(m_socket.get(), m_output, m_output_size, MSG_NOSIGNAL);
        if (n > 0) {
            m_output += n;
            m_output_size -= static_cast<std::size_t>(n);
            m_sent += static_cast<std::uint64_t>(n);
            total += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writable = false;
            break;
        }
        m_error = n < 0 ? errno : EPIPE;
        return -1;
    }
    return total;
}

void EventSocket::dispatch(unsigned events)
{
    if (events & write_event)
        m_writable = true;
    if (m_read_pending)
        events |= read_event;
    events |= m_saved;
    m_saved = 0;

    if (events & connect_event)
        on_connect();
    if (events & read_event) {
        if (!output_queued())
            on_read();
        else
            m_read_pending = true;
    }
    if (events & close_event) {
        if (m_read_pending)
            drop_output();
        m_writable = false;
        on_close();
    }
    if (events & write_event)
        on_write();
    if (m_read_pending && !output_queued()) {
        m_read_pending = false;
        on_read();
    }
}

// ---- HttpConnection ---------------------------------------------------------------

HttpConnection::HttpConnection(const ServerContext& context, fs::UniqueFd socket, std::uint32_t peer_address)
    : EventSocket(std::move(socket), peer_address),
      m_context(context),
      m_number(++connection_counter),
      m_log(&context.log),
      m_peer_text(dotted(peer_address))
{
    m_log.set_prefix(text::format("[%d] ", m_number));
}

HttpConnection::~HttpConnection()
{
    if (m_socket || m_cgi)
        finish();
}

void HttpConnection::serve()
{
    m_log.line(log::Level::detail, "Connection accepted from %s", m_peer_text.c_str());
    const auto idle = std::chrono::seconds(m_context.config.connection_timeout_seconds());
    while (!m_done) {
        pollfd fds[2] = {};
        fds[0].fd = m_socket.get();
        fds[0].events = POLLRDHUP;
        if (m_state == State::ReadingHeaders || m_state == State::ReceivingBody)
            fds[0].events |= POLLIN;
        if (output_queued() && !m_writable)
            fds[0].events |= POLLOUT;
        nfds_t count = 1;
        // While nothing waits to be sent, a running CGI's pipe is the other
        // thing to wait for.
        bool watch_pipe = m_state == State::CgiRunning && m_cgi && m_cgi->output_open() && !output_queued();
        if (watch_pipe) {
            fds[1].fd = m_cgi->output_fd();
            fds[1].events = POLLIN;
            count = 2;
        }

        auto deadline = std::chrono::steady_clock::now() + idle;
        int n;
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            n = ::poll(fds, count, static_cast<int>(std::max<std::int64_t>(0, left.count())));
            // A signal (a stop request) waits until this connection is done.
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        if (n == 0) {
            m_log.line(log::Level::error, "Connection timed out");
            if (m_cgi)
                m_cgi->kill();
            m_done = true;
            break;
        }
        if (n < 0) {
            m_log.line(log::Level::error, "Windows wait error : %d", errno);
            m_done = true;
            break;
        }

        unsigned events = 0;
        if (fds[0].revents & POLLIN)
            events |= read_event;
        if (fds[0].revents & POLLOUT)
            events |= write_event;
        if (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR))
            events |= close_event;
        dispatch(events);
        if (watch_pipe && fds[1].revents != 0 && !m_done && m_state == State::CgiRunning)
            on_write();
    }
    finish();
}

void HttpConnection::on_read()
{
    if (m_done)
        return;
    if (m_state == State::ReadingHeaders)
        receive_headers();
    else if (m_state == State::ReceivingBody)
        receive_body();
}

void HttpConnection::on_close()
{
    if (m_done)
        return;
    m_log.line(log::Level::error, "Connection closed unexpectedly");
    if (m_state == State::CgiRunning)
        flush_cgi();
    m_done = true;
}

long HttpConnection::on_write()
{
    if (m_done)
        return 0;
    switch (m_state) {
    case State::SendingResponse:
        return send_response();
    case State::ReceivingBody:
    case State::CgiReady:
    case State::CgiRunning:
        return cgi_sender();
    case State::ReadingHeaders:
        break;
    }
    return 0;
}

// ---- the request ----------------------------------------------------------------

void HttpConnection::receive_headers()
{
    for (;;) {
        std::size_t space = buffer_size - m_filled;
        if (space <= 1)
            break;
        ssize_t n = ::recv(m_socket.get(), m_receive.data() + m_filled, space - 1, 0);
        if (n > 0) {
            m_filled += static_cast<std::size_t>(n);
            m_received += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0)
            break;  // the close event follows
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        m_error = errno;
        m_log.line(log::Level::error, "Winsock error on receive : %d", m_error);
        m_done = true;
        return;
    }
    std::string_view received(m_receive.data(), m_filled);
    std::size_t end = find_header_end(received);
    if (end == std::string_view::npos) {
        // The block can never be completed: the buffer is full.
        if (m_filled >= buffer_size - 1) {
            m_log.line(log::Level::error, "Receive buffer overflow");
            m_done = true;
        }
        return;
    }
    m_body_start = end;
    process_request();
    on_write();
}

void HttpConnection::process_request()
{
    m_request_time = fs::now();
    // The text up to and including the first CR LF of the empty line.
    m_request = parse_request(std::string_view(m_receive.data(), m_body_start - 2));
    if (!m_request.request_line.empty())
        m_log.line(log::Level::detail, "%s", safe(m_request.request_line).c_str());
    m_status = m_request.status;
    if (!m_request.valid()) {
        m_log.line(log::Level::detail, "Invalid request");
        prepare_error(m_status);
        return;
    }
    route(m_request.path);
}

void HttpConnection::route(std::string path)
{
    const auto& config = m_context.config;
    if (path == "/") {
        std::string base = config.cgi_base1();
        if (!base.empty())
            path = base;
    }

    std::string auth = config.auth();
    bool global = !auth.empty();
    if (global && !check_credentials(expected_credentials("Auth", auth))) {
        if (m_credentials)
            m_log.line(log::Level::notable, "Global authentication failed (%s)", credential_user().c_str());
        else
            m_log.line(log::Level::detail, "Global authentication failed");
        prepare_error(401);
        return;
    }

    if (auto match = m_context.cgi.find(path)) {
        const CgiEntry& entry = *match->entry;
        if (!global && !entry.credentials.empty() &&
            !check_credentials(expected_credentials(text::format("CgiAuth%d", entry.index), entry.credentials))) {
            if (m_credentials)
                m_log.line(log::Level::notable, "CGI authentication failed (%s)", credential_user().c_str());
            else
                m_log.line(log::Level::detail, "CGI authentication failed");
            prepare_error(401);
            return;
        }
        if (!entry.is_library() && !fs::is_regular_file(entry.file_path)) {
            prepare_error(404);
            return;
        }
        start_cgi_input(entry.is_library() ? &entry : nullptr, entry.file_path, path, match->path_info);
        return;
    }

    std::string alias = config.cgi_alias();
    if (!alias.empty() && path.size() > alias.size() && text::istarts_with(path, alias) && path[alias.size()] == '/') {
        run_from_alias(path, alias);
        return;
    }
    serve_static(path);
}

void HttpConnection::serve_static(const std::string& url_path)
{
    const auto& config = m_context.config;
    // An empty HtmlDir would put the URL path at the root of the file
    // system: it means there are no static files.
    std::string dir = config.html_dir();
    // A CgiBase1 without its "/" must not name a sibling of HtmlDir either.
    bool inside = !dir.empty() && !url_path.empty() && url_path.front() == '/';
    std::string file = dir + url_path;
    if (inside && file.back() == '/')
        file += config.def_html_file();

    int status = 200;
    struct stat st {};
    if (!inside || file.size() > max_path || ::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        status = 404;
    } else if (!m_request.is_head()) {
        if (m_request.if_modified_since != 0 && m_request.if_modified_since >= st.st_mtime) {
            status = 304;
        } else {
            m_file.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            if (!m_file || ::fstat(m_file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
                m_file.reset();
                status = 404;
            }
        }
    }
    if (status == 404)
        m_log.line(log::Level::routine, "Could not open file : %s", safe(url_path).c_str());
    if (status != 200) {
        prepare_error(status);
        return;
    }

    std::optional<std::string_view> type;
    std::string extension = extension_of_file(file);
    if (file.find('.', file.rfind('/') + 1) != std::string::npos)
        type = m_context.mime.lookup(extension);
    m_send = static_file_header(m_request_time, type, static_cast<std::uint64_t>(st.st_size), st.st_mtime);
    m_header_length = m_send.size();
    m_log.line(log::Level::detail, "Sending %s", safe(file).c_str());
    m_state = State::SendingResponse;
    set_output(m_send);
}

void HttpConnection::run_from_alias(const std::string& path, const std::string& alias)
{
    // "/cgi-bin/prog/more": the program is "prog", "/more" is PATH_INFO.
    std::string after = path.substr(alias.size());
    auto slash = after.find('/', 1);
    std::string name = after.substr(0, slash);
    std::string path_info = slash == std::string::npos ? std::string() : after.substr(slash);
    std::string dir = m_context.config.cgi_dir();
    std::string program = dir + name;
    if (dir.empty() || program.back() == '/' || program.size() > max_path || !fs::is_regular_file(program)) {
        prepare_error(404);
        return;
    }
    start_cgi_input(nullptr, program, path.substr(0, alias.size() + name.size()), path_info);
}

void HttpConnection::prepare_error(int status)
{
    m_status = status;
    auto response = error_response(status);
    m_send = response.header + response.body;
    m_header_length = response.header.size();
    m_state = State::SendingResponse;
    set_output(m_send);
}

long HttpConnection::send_response()
{
    long total = 0;
    while (m_writable && !m_done) {
        if (output_queued()) {
            long n = EventSocket::on_write();
            if (n < 0) {
                m_log.line(log::Level::error, "Winsock error on send : %d", m_error);
                m_done = true;
                return -1;
            }
            total += n;
            if (output_queued())
                break;
        }
        if (m_file) {
            m_send.resize(buffer_size);
            ssize_t n;
            do {
                n = ::read(m_file.get(), m_send.data(), buffer_size);
            } while (n < 0 && errno == EINTR);
            if (n < 0) {
                m_file.reset();
                m_done = true;  // the client sees a body shorter than announced
                break;
            }
            m_send.resize(static_cast<std::size_t>(n));
            if (n < static_cast<ssize_t>(buffer_size))
                m_file.reset();
            set_output(m_send);
            continue;
        }
        m_success = true;
        m_done = true;
    }
    return total;
}

// ---- credentials ----------------------------------------------------------------

std::optional<std::string> HttpConnection::expected_credentials(const std::string& key, const std::string& value)
{
    std::string stored = value;
    if (auto scrambled = codec::scramble_if_plain(m_context.codec, value)) {
        if (!scrambled->ok()) {
            m_log.line(log::Level::error, "Could not scramble %s: %s", key.c_str(), scrambled->error().text.c_str());
            return std::nullopt;
        }
        stored = scrambled->value();
        m_context.config.write_text(m_context.config.section(), key, stored);
    }
    auto plain = m_context.codec.unscramble(stored);
    if (!plain) {
        // Nobody gets in with credentials nobody can read.
        m_log.line(log::Level::error, "Could not unscramble %s: %s", key.c_str(), plain.error().text.c_str());
        return std::nullopt;
    }
    return plain.value();
}

bool HttpConnection::check_credentials(const std::optional<std::string>& expected)
{
    if (ntohl(m_peer) == loopback && !m_context.config.local_auth())
        return true;
    if (m_request.authorization) {
        if (auto decoded = decode_basic(*m_request.authorization))
            m_credentials = std::move(decoded);
    }
    if (expected && m_credentials && credentials_match(*expected, *m_credentials))
        return true;
    m_status = 401;
    return false;
}

std::string HttpConnection::credential_user() const
{
    // The password a client tried is never written down: it may well be
    // the user's password for something else.
    return m_credentials ? safe(user_of(*m_credentials)) : std::string();
}

// ---- CGI ----------------------------------------------------------------------------

void HttpConnection::start_cgi_input(const CgiEntry* library, std::string file, std::string script_name,
                                     std::string path_info)
{
    m_cgi_library = library;
    m_cgi_path = std::move(file);
    m_script_name = std::move(script_name);
    m_path_info = std::move(path_info);
    m_status = 200;
    m_state = State::CgiReady;
    if (!m_request.is_post())
        return;

    std::string dir = m_context.config.temp_dir();
    std::string pattern = fs::join_path(dir, "CGIXXXXXX");
    if (pattern.size() <= max_path)
        m_input.reset(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!m_input) {
        m_log.line(log::Level::error, "Could not create CGI input file!");
        prepare_error(500);
        return;
    }
    // Nobody else needs the name; the file goes with its last descriptor.
    ::unlink(pattern.c_str());
    m_body_expected = m_request.content_length;
    std::size_t arrived = m_filled - m_body_start;
    std::size_t take =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(arrived), m_body_expected));
    if (!write_input(m_receive.data() + m_body_start, take))
        return;
    m_body_expected -= static_cast<std::int64_t>(take);
    if (m_body_expected == 0)
        ::lseek(m_input.get(), 0, SEEK_SET);
    else
        m_state = State::ReceivingBody;
}

bool HttpConnection::write_input(const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(m_input.get(), data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A CGI must never see a body cut short (a full disk would
            // otherwise store a truncated upload as if it were whole).
            m_log.line(log::Level::error, "Could not write CGI input file, error code %d", n < 0 ? errno : ENOSPC);
            m_input.reset();
            prepare_error(500);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void HttpConnection::receive_body()
{
    while (m_body_expected > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(m_body_expected, buffer_size));
        ssize_t n = ::recv(m_socket.get(), m_receive.data(), want, 0);
        if (n > 0) {
            m_received += static_cast<std::uint64_t>(n);
            if (!write_input(m_receive.data(), static_cast<std::size_t>(n))) {
                on_write();
                return;
            }
            m_body_expected -= n;
            continue;
        }
        if (n == 0)
            return;  // the close event follows
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        m_error = errno;
        m_log.line(log::Level::error, "Winsock error on receive : %d", m_error);
        m_done = true;
        return;
    }
    ::lseek(m_input.get(), 0, SEEK_SET);
    m_state = State::CgiReady;
    on_write();
}

void HttpConnection::start_cgi()
{
    CgiVariables v;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        v.server_name = dotted(local.sin_addr.s_addr);
        v.server_port = ntohs(local.sin_port);
    }
    v.remote_addr = m_peer_text;
    v.user_agent = m_request.user_agent.value_or("");
    v.request_method = m_request.method;
    v.script_name = m_script_name;
    v.path_info = m_path_info;
    v.query_string = m_request.query;
    if (m_request.content_type) {
        v.content_type = m_request.content_type;
        v.content_length = m_request.content_length;
    }
    v.cookie = m_request.cookie;

    m_log.line(log::Level::detail, "Running %s", m_cgi_path.c_str());
    CgiProcess::Failure failure{};
    auto environment = build_environment(environ, v);
    if (m_cgi_library)
        m_cgi = CgiProcess::start_library(m_cgi_library->main, std::move(m_input), std::move(environment), failure);
    else
        m_cgi = CgiProcess::start_program(m_cgi_path, std::move(m_input), std::move(environment), failure);
    if (!m_cgi) {
        if (failure.stage == CgiProcess::Stage::pipe)
            m_log.line(log::Level::error, "Could not create CGI output pipe!");
        else
            m_log.line(log::Level::error, "Could not run %s, error code %d", m_cgi_path.c_str(), failure.error.code);
        prepare_error(500);
        return;
    }
    m_state = State::CgiRunning;
    m_send = cgi_prefix(m_request_time);
    m_header_length = m_send.size();
    set_output(m_send);
}

long HttpConnection::cgi_sender()
{
    long total = 0;
    while (m_writable && !m_done) {
        if (output_queued()) {
            long n = EventSocket::on_write();
            if (n < 0) {
                m_log.line(log::Level::error, "Winsock error on send : %d", m_error);
                flush_cgi();
                m_done = true;
                return -1;
            }
            total += n;
            if (output_queued())
                break;
        }
        if (m_state == State::ReceivingBody)
            break;
        if (m_state == State::CgiReady) {
            start_cgi();
            if (m_state == State::SendingResponse)
                return total + send_response();
            continue;
        }
        if (m_state != State::CgiRunning)
            break;
        if (!m_cgi->output_open()) {
            m_success = true;
            m_done = true;
            break;
        }
        auto result = m_cgi->read_available(m_collect, buffer_size);
        if (m_collect.size() >= min_cgi_chunk || result == CgiProcess::ReadResult::ended) {
            m_send.swap(m_collect);
            m_collect.clear();
            set_output(m_send);
            continue;
        }
        break;  // wait for the pipe
    }
    return total;
}

void HttpConnection::flush_cgi()
{
    if (m_cgi && m_cgi->output_open()) {
        m_log.line(log::Level::detail, "Flushing CGI pipe");
        m_cgi->flush();
    }
}

void HttpConnection::finish()
{
    std::int64_t bytes = static_cast<std::int64_t>(m_sent) - static_cast<std::int64_t>(m_header_length);
    if (bytes < 0)
        bytes = 0;
    if (m_socket) {
        ::shutdown(m_socket.get(), SHUT_WR);
        // What the client sent beyond the request is read and dropped, so
        // that closing does not reset the connection under the response.
        char discard[256];
        while (::recv(m_socket.get(), discard, sizeof discard, MSG_DONTWAIT) > 0) {
        }
        m_socket.reset();
        m_file.reset();
        m_log.line(log::Level::detail, "Connection completed %s, %lld bytes transferred",
                   m_success ? "successfully" : "unsuccessfully", static_cast<long long>(bytes));
        if (m_status != 0) {
            std::string user = m_credentials ? std::string(user_of(*m_credentials)) : std::string();
            m_context.access_log.write(
                format_access_line(m_peer_text, user, m_request_time, m_request.request_line, m_status, bytes));
        }
    }
    if (m_cgi) {
        flush_cgi();
        if (!m_cgi->finish()) {
            m_log.line(log::Level::error, "Error waiting for CGI Handle");
            m_cgi->flush();
        }
        m_cgi.reset();
    }
    m_input.reset();
    m_log.flush();
}

}  // namespace corvane::webserver
