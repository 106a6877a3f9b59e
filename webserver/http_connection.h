// One client connection, from the accepted socket to the closed one.
//
// EventSocket is the socket side: it waits for the socket's read, write
// and close events with poll() and hands them to the virtual on_read,
// on_write and on_close in a fixed order, and it sends queued output until
// the socket would block. HttpConnection is the HTTP side on top: it
// collects the header block in its 4096-byte buffer, parses and routes the
// request (error response, static file, CGI library or program), streams
// the answer, and at the end writes the connection's log lines and the
// access-log line.
//
// A connection is served to its end before the next one is accepted, so
// nothing here is shared with another connection; the only other thread is
// a CGI library's Main, which the connection waits for before it ends. What
// it deliberately does not do: keep-alive, pipelining, chunked bodies,
// percent-decoding, HTTPS.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "common/platform/unique_fd.h"
#include "webserver/access_log.h"
#include "webserver/cgi_process.h"
#include "webserver/cgi_table.h"
#include "webserver/http_request.h"
#include "webserver/mime_table.h"
#include "webserver/server_config.h"

namespace corvane::webserver {

// What a connection needs from the running server.
struct ServerContext {
    const ServerConfig& config;
    log::LogFile& log;
    codec::PasswordCodec& codec;
    const CgiTable& cgi;
    MimeTable& mime;
    AccessLog& access_log;
};

// CGI output is forwarded in chunks of at least this many bytes (or what is
// left at its end), so that small writes do not each become a network send.
constexpr std::size_t min_cgi_chunk = 1024;

class EventSocket {
public:
    EventSocket(platform::UniqueFd socket, std::uint32_t peer_address);
    virtual ~EventSocket() = default;
    EventSocket(const EventSocket&) = delete;
    EventSocket& operator=(const EventSocket&) = delete;

    // The peer's IPv4 address in network byte order.
    std::uint32_t peer_address() const { return m_peer; }

protected:
    static constexpr unsigned read_event = 1;
    static constexpr unsigned write_event = 2;
    static constexpr unsigned connect_event = 16;
    static constexpr unsigned close_event = 32;

    virtual void on_connect() {}
    virtual void on_read() {}
    virtual void on_close() {}
    // Sends the queued output while the socket takes it; the number of
    // bytes sent, or -1 on an error (kept in m_error).
    virtual long on_write();

    // Hands one set of events to the handlers: connect, read (deferred
    // while output is queued), close, write, then a deferred read.
    void dispatch(unsigned events);
    // Queues bytes to send; they must stay where they are until sent.
    void set_output(const std::string& bytes);
    void drop_output() { m_output_size = 0; }
    bool output_queued() const { return m_output_size > 0; }

    platform::UniqueFd m_socket;
    std::uint32_t m_peer;
    int m_error = 0;
    bool m_read_pending = false;
    bool m_writable = true;  // a fresh socket takes output
    const char* m_output = nullptr;
    std::size_t m_output_size = 0;
    std::uint64_t m_sent = 0;
    std::uint64_t m_received = 0;
    unsigned m_saved = 0;
};

class HttpConnection final : public EventSocket {
public:
    enum class State { ReadingHeaders, SendingResponse, ReceivingBody, CgiReady, CgiRunning };

    HttpConnection(const ServerContext& context, platform::UniqueFd socket, std::uint32_t peer_address);
    ~HttpConnection() override;

    // Serves the connection to its end and closes it.
    void serve();

    int number() const { return m_number; }

protected:
    void on_read() override;
    void on_close() override;
    long on_write() override;

private:
    void receive_headers();
    void receive_body();
    void process_request();
    void route(std::string path);
    void serve_static(const std::string& url_path);
    void run_from_alias(const std::string& path, const std::string& alias);
    void prepare_error(int status);
    long send_response();

    // Credentials: the configured value (scrambled, or "-" plain text that
    // is scrambled and written back first) unscrambled for comparison.
    std::optional<std::string> expected_credentials(const std::string& key, const std::string& value);
    bool check_credentials(const std::optional<std::string>& expected);
    std::string credential_user() const;

    void start_cgi_input(const CgiEntry* library, std::string file, std::string script_name, std::string path_info);
    bool write_input(const char* data, std::size_t size);
    void start_cgi();
    long cgi_sender();
    void flush_cgi();
    void finish();

    const ServerContext& m_context;
    const int m_number;
    log::RequestLog m_log;
    std::string m_peer_text;

    State m_state = State::ReadingHeaders;
    bool m_done = false;
    bool m_success = false;
    int m_status = 0;
    std::time_t m_request_time = 0;
    HttpRequest m_request;
    std::optional<std::string> m_credentials;  // decoded from the request

    std::array<char, buffer_size> m_receive{};
    std::size_t m_filled = 0;
    std::size_t m_body_start = 0;
    std::string m_send;
    std::uint64_t m_header_length = 0;
    platform::UniqueFd m_file;  // static file being sent

    // CGI
    const CgiEntry* m_cgi_library = nullptr;
    std::string m_cgi_path;
    std::string m_script_name;
    std::string m_path_info;
    platform::UniqueFd m_input;  // the request body, unlinked
    std::int64_t m_body_expected = 0;
    std::unique_ptr<CgiProcess> m_cgi;
    std::string m_collect;  // CGI output gathered for the next send
};

// Dotted form of an IPv4 address in network byte order.
std::string dotted(std::uint32_t address);

}  // namespace corvane::webserver
