// One client connection, from the accepted socket to the closed one, driven
// by the server's event loop.
//
// The connection collects the header block in its 4096-byte buffer, has it
// parsed and routed (router.h), and then answers with an error response, a
// static file (static_files.h) or a CGI's output (cgi_bridge.h), receiving
// a POST body into an unnamed temporary file first. Everything it does is
// a step that never waits: it reads and writes until the socket would
// block and then returns to the loop, which calls it again on the next
// readiness event, on a CGI's output, or on the timer.
//
// Deadlines: the header block must be complete within HeaderTimeout of the
// accept; a body must keep up MinBodyRate after the same grace; and any
// state without progress ends after ConnectionTimeout. A client that shuts
// down its sending side after the request still gets the whole response:
// only a failed send or a reset means it is gone.
//
// At the end it writes "Connection completed ...", the access-log line and
// releases a CGI it started (whose output is then read and dropped). What
// it deliberately does not do: keep-alive, pipelining, chunked bodies,
// percent-decoding, HTTPS.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "common/log/log_file.h"
#include "common/mime_types/mime_type_table.h"
#include "common/platform/sockets.h"
#include "common/platform/unique_fd.h"
#include "webserver/access_log.h"
#include "webserver/cgi_bridge.h"
#include "webserver/http_request.h"
#include "webserver/output_queue.h"
#include "webserver/router.h"
#include "webserver/server_config.h"

namespace corvane::webserver {

// What a connection needs from the running server.
struct ServerContext {
    const ServerConfig& config;
    log::LogFile& log;
    const mime_types::MimeTypeTable& mime;
    AccessLog& access_log;
    Router& router;
    CgiBridge& bridge;
    // Ids of connections that are done, for the loop to destroy.
    std::vector<std::uint64_t>& finished;
};

class HttpConnection final : public CgiListener {
public:
    using Clock = std::chrono::steady_clock;
    enum class State {
        ReadingHeaders,
        ReceivingBody,
        WaitingForCheck,  // credentials from an address that must wait
        CgiWaiting,       // for a free CGI slot
        CgiRunning,
        SendingResponse,
        Lingering,  // answered; reading what the client still sends before closing
        Done,
    };

    HttpConnection(ServerContext& context, platform::Accepted accepted, std::uint64_t id, Clock::time_point now);
    ~HttpConnection() override;
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Logs the accept and reads what has already arrived.
    void start(Clock::time_point now);
    void on_socket_event(unsigned poller_events, Clock::time_point now);
    // Deadlines and waits.
    void on_timer(Clock::time_point now);
    // The server needs the slot for a new client.
    void drop();

    std::uint64_t id() const { return m_id; }
    int number() const { return m_number; }
    int socket() const { return m_socket.get(); }
    State state() const { return m_state; }
    bool done() const { return m_state == State::Done; }
    // Still waiting for its header block: the first to go when the server
    // is full (then those still receiving a body).
    bool idle() const { return m_state == State::ReadingHeaders; }

    // CgiListener
    void cgi_started() override;
    void cgi_failed(const std::string& log_line) override;
    void cgi_readable() override;

private:
    // True when r brought bytes; otherwise waits for the next event or
    // ends the connection, as r says.
    bool received(const platform::IoResult& r);
    void receive_headers();
    void process_request();
    void route_request();
    void serve_static(const std::string& url_path);
    void prepare_error(int status);
    void start_cgi_input(Route route);
    bool write_input(const char* data, std::size_t size);
    void receive_body();
    void submit_cgi();
    void pump_cgi();
    void send_output();
    void complete();
    void fail(const char* log_line);
    void close_connection();
    void linger_or_close();

    ServerContext& m_context;
    const std::uint64_t m_id;
    const int m_number;
    platform::UniqueFd m_socket;
    std::string m_peer;
    log::RequestLog m_log;

    State m_state = State::ReadingHeaders;
    bool m_success = false;
    bool m_may_read = true;
    bool m_may_write = true;
    bool m_finished = false;  // logs and access line written

    // Deadlines, read from the settings at the accept and at the request.
    Clock::time_point m_accepted;
    Clock::time_point m_last_activity;
    Clock::duration m_header_timeout;
    Clock::duration m_idle_timeout;
    int m_min_body_rate = 0;
    Clock::time_point m_body_since{};
    std::uint64_t m_body_received = 0;
    Clock::time_point m_wake{};
    Clock::time_point m_linger_until{};

    // The request.
    int m_status = 0;
    std::time_t m_request_time = 0;
    HttpRequest m_request;
    std::optional<std::string> m_credentials;
    std::array<char, buffer_size> m_receive{};
    std::size_t m_filled = 0;
    std::size_t m_body_start = 0;
    bool m_body_unread = false;  // a body is on its way that nobody reads

    // The response.
    OutputQueue m_out;
    std::uint64_t m_sent = 0;
    std::uint64_t m_header_length = 0;

    // CGI
    Route m_route;
    platform::UniqueFd m_input;  // the request body, unnamed
    std::int64_t m_body_expected = 0;
    CgiRun* m_run = nullptr;
    std::string m_prefix;  // goes out with the CGI's first output
    bool m_cgi_ended = false;
    bool m_timed_out = false;
};

}  // namespace corvane::webserver
