#include "engine/transport/line_client/line_client.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace corvane::transport {

namespace {

// Bytes asked for by one read, beyond the room an unfinished line takes.
constexpr std::size_t read_chunk = 64 * 1024;
// What close() reads and drops at most before it closes the socket.
constexpr std::size_t max_drain = 64 * 1024;

int milliseconds(std::chrono::milliseconds d)
{
    auto count = d.count();
    if (count < 0)
        return 0;
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

}  // namespace

LineClient::LineClient(std::size_t max_line) : m_max_line(max_line < 1 ? 1 : max_line), m_in(m_max_line + read_chunk) {}

LineClient::~LineClient()
{
    close();
}

Result<void> LineClient::connect(std::string_view host, int port, std::string_view bind_address,
                                 std::chrono::milliseconds timeout)
{
    close();
    m_done = false;
    auto fd = platform::connect_tcp(host, port, bind_address, milliseconds(timeout));
    if (!fd) {
        m_last_error = fd.error().code;
        return fd.error();
    }
    m_fd = std::move(*fd);
    return {};
}

Result<void> LineClient::start_tls(const TlsOptions& options, std::chrono::milliseconds timeout)
{
    if (!m_fd)
        return Error{ENOTCONN, "TLS without a connection"};
    auto fail = [this](Error error) -> Result<void> {
        m_last_error = error.code;
        m_tls.reset();
        m_out.clear();
        m_out_pos = 0;
        m_fd.reset();  // half a handshake leaves nothing worth an orderly close
        return error;
    };
    auto tls = TlsStream::client(options);
    if (!tls)
        return fail(tls.error());
    m_tls = std::move(*tls);
    // Whatever came in plain text after the reply that asked for TLS was
    // not protected by it.
    m_fill = 0;
    m_upgraded = true;
    m_out.clear();
    m_out_pos = 0;
    for (;;) {
        auto progress = m_tls->handshake();
        m_tls->take_outgoing(m_out);
        if (auto sent = flush_blocking(timeout); !sent)
            return fail(sent.error());
        if (progress == TlsStream::Progress::done)
            return {};
        if (progress == TlsStream::Progress::failed)
            return fail(Error{EPROTO, m_tls->error()});
        auto ready = platform::wait_socket(m_fd.get(), true, false, milliseconds(timeout));
        if (!ready)
            return fail(ready.error());
        if (ready->timed_out)
            return fail(Error{ETIMEDOUT, "TLS handshake: no answer from the server"});
        char raw[16 * 1024];
        auto got = platform::receive_some(m_fd.get(), raw, sizeof raw);
        if (got.status == platform::IoStatus::ok)
            m_tls->push_received(std::string_view(raw, got.bytes));
        else if (got.status == platform::IoStatus::closed)
            return fail(Error{ECONNRESET, "TLS handshake: the server closed the connection"});
        else if (got.status == platform::IoStatus::failed)
            return fail(os_error_code(got.error, "TLS handshake"));
    }
}

std::string LineClient::tls_description() const
{
    return m_tls ? m_tls->description() : std::string();
}

Result<void> LineClient::flush_blocking(std::chrono::milliseconds timeout)
{
    while (sending()) {
        if (!send_pending())
            return os_error_code(m_last_error, "send");
        if (!sending())
            break;
        auto ready = platform::wait_socket(m_fd.get(), false, true, milliseconds(timeout));
        if (!ready)
            return ready.error();
        if (ready->timed_out)
            return Error{ETIMEDOUT, "send: the server takes nothing"};
    }
    return {};
}

void LineClient::send(std::string_view text)
{
    if (!m_fd || m_send_failed)
        return;
    if (m_tls) {
        if (!m_tls->write(text)) {
            after_failure(EPROTO);
            return;
        }
        m_tls->take_outgoing(m_out);
    } else {
        m_out.append(text);
    }
    m_notify_sent = true;
    if (!send_pending())
        m_send_failed = true;
}

bool LineClient::send_pending()
{
    while (m_out_pos < m_out.size()) {
        auto r = platform::send_some(m_fd.get(), std::string_view(m_out).substr(m_out_pos));
        if (r.status == platform::IoStatus::ok) {
            m_out_pos += r.bytes;
            continue;
        }
        if (r.status == platform::IoStatus::would_block)
            return true;
        m_last_error = r.error;
        m_out.clear();
        m_out_pos = 0;
        return false;
    }
    m_out.clear();
    m_out_pos = 0;
    return true;
}

void LineClient::after_failure(int error)
{
    m_last_error = error;
    m_out.clear();
    m_out_pos = 0;
    m_send_failed = true;
}

LineClient::Ended LineClient::run(std::chrono::milliseconds idle_timeout)
{
    while (!m_done) {
        if (!m_fd) {
            m_done = true;
            break;
        }
        if (m_send_failed) {
            // The server went away while we talked; what it said before it
            // left still counts.
            receive();
            if (!m_done) {
                on_close();
                m_done = true;
            }
            break;
        }
        if (!sending() && m_notify_sent) {
            m_notify_sent = false;
            on_sent();
            continue;
        }
        bool want_write = sending();
        auto ready = platform::wait_socket(m_fd.get(), !want_write, want_write, milliseconds(idle_timeout));
        if (!ready) {
            m_last_error = ready.error().code;
            return Ended::wait_failed;
        }
        if (ready->timed_out)
            return Ended::timed_out;
        if (!want_write) {
            receive();
            continue;
        }
        // A failed send, or a hang-up while nothing can be written.
        if ((ready->writable && !send_pending()) || (ready->hung_up && !ready->writable))
            m_send_failed = true;
    }
    return Ended::done;
}

platform::IoResult LineClient::read_some(char* buffer, std::size_t room)
{
    if (!m_tls)
        return platform::receive_some(m_fd.get(), buffer, room);
    for (;;) {
        auto got = m_tls->read(buffer, room);
        if (m_tls->has_outgoing()) {
            // Key updates and alerts the server asked for.
            m_tls->take_outgoing(m_out);
            if (!send_pending())
                m_send_failed = true;
        }
        switch (got.status) {
        case TlsStream::ReadStatus::ok:
            return {platform::IoStatus::ok, got.bytes, 0};
        case TlsStream::ReadStatus::closed:
            return {platform::IoStatus::closed, 0, 0};
        case TlsStream::ReadStatus::failed:
            return {platform::IoStatus::failed, 0, EPROTO};
        case TlsStream::ReadStatus::needs_data:
            break;
        }
        char raw[16 * 1024 + 512];
        auto r = platform::receive_some(m_fd.get(), raw, sizeof raw);
        if (r.status != platform::IoStatus::ok)
            return r;
        m_tls->push_received(std::string_view(raw, r.bytes));
    }
}

LineClient::Read LineClient::receive()
{
    // Lines left over from the last read (the protocol stopped to send).
    if (m_fill > 0 && dispatch_lines() == Read::stop)
        return Read::stop;
    for (;;) {
        auto got = read_some(m_in.data() + m_fill, m_in.size() - m_fill);
        switch (got.status) {
        case platform::IoStatus::ok:
            m_fill += got.bytes;
            if (dispatch_lines() == Read::stop)
                return Read::stop;
            continue;
        case platform::IoStatus::would_block:
            return Read::more;
        case platform::IoStatus::closed:
            // An unfinished last line is no line.
            m_fill = 0;
            on_close();
            m_done = true;
            return Read::stop;
        case platform::IoStatus::failed:
            m_last_error = got.error;
            m_fill = 0;
            on_receive_error(got.error);
            m_done = true;
            return Read::stop;
        }
    }
}

LineClient::Read LineClient::dispatch_lines()
{
    char* data = m_in.data();
    std::size_t start = 0;
    auto keep_rest = [&] {
        if (start > 0) {
            std::memmove(data, data + start, m_fill - start);
            m_fill -= start;
        }
    };
    auto overflow = [&] {
        m_fill = 0;
        on_overflow();
        m_done = true;
        return Read::stop;
    };
    while (start < m_fill) {
        auto* lf = static_cast<char*>(std::memchr(data + start, '\n', m_fill - start));
        if (!lf)
            break;
        std::size_t end = static_cast<std::size_t>(lf - data);
        std::size_t length = end - start;
        if (length > 0 && data[end - 1] == '\r')
            --length;
        std::string_view line(data + start, length);
        start = end + 1;
        if (length > m_max_line) {
            if (!on_line_piece(line))
                return overflow();
            line = {};
        }
        on_line(line);
        if (m_upgraded) {
            m_upgraded = false;
            m_fill = 0;
            return Read::stop;
        }
        if (m_done || !m_fd || sending()) {
            keep_rest();
            return Read::stop;
        }
    }
    std::size_t rest = m_fill - start;
    if (rest > m_max_line) {
        // No line end in sight: hand the line over in pieces, or give up. A
        // CR at the end stays, its LF may come next.
        std::size_t take = data[m_fill - 1] == '\r' ? rest - 1 : rest;
        if (!on_line_piece(std::string_view(data + start, take)))
            return overflow();
        start += take;
    }
    keep_rest();
    return m_done ? Read::stop : Read::more;
}

void LineClient::close()
{
    if (!m_fd) {
        m_tls.reset();
        return;
    }
    if (m_tls && !m_send_failed) {
        m_tls->shut_down();
        m_tls->take_outgoing(m_out);
    }
    if (!m_send_failed)
        send_pending();
    platform::shutdown_sending(m_fd.get());
    // Read what the server still sent, so closing does not reset the
    // connection under its last words; never wait for more.
    char drop[256];
    std::size_t dropped = 0;
    while (dropped < max_drain) {
        auto got = platform::receive_some(m_fd.get(), drop, sizeof drop);
        if (got.status != platform::IoStatus::ok)
            break;
        dropped += got.bytes;
    }
    m_fd.reset();
    m_tls.reset();
    m_out.clear();
    m_out_pos = 0;
    m_fill = 0;
}

std::string LineClient::local_endpoint() const
{
    return m_fd ? platform::local_endpoint(m_fd.get()) : std::string();
}

}  // namespace corvane::transport
