// The running web server: start-up, the event loop, the 5-second tick and
// the orderly shutdown.
//
// start() prepares the directories, opens the server log, writes every
// setting it knows back into Corvane.ini, listens on BindAddress:Port, loads
// and starts the CGIs, loads MimeTypes.cfg and opens the access log. run()
// is one thread waiting on every socket, CGI pipe and CGI process at once:
// each connection advances when its socket is ready, so a slow or silent
// client holds one slot and nothing else. At MaxConnections the oldest
// connection that has not yet sent its request (or else its body) is
// dropped for a new one.
// CGI libraries run on a pool of threads (cgi_bridge.h), whose end nobody
// waits for. Between events run the deadlines (every 100 ms while anything
// is open) and the tick, which moves a too-large access log or server log
// aside.
//
// A stop request closes the listening socket; the connections in progress
// are given a few seconds to finish. shut_down() waits for the CGI
// library calls still running, tells the libraries to shut down and closes
// the logs.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "common/mime_types/mime_type_table.h"
#include "common/platform/daemon.h"
#include "common/platform/poller.h"
#include "common/platform/unique_fd.h"
#include "webserver/access_log.h"
#include "webserver/auth_throttle.h"
#include "webserver/cgi_bridge.h"
#include "webserver/cgi_table.h"
#include "webserver/http_connection.h"
#include "webserver/router.h"
#include "webserver/server_config.h"

namespace corvane::webserver {

constexpr std::chrono::seconds tick_period{5};

class Server {
public:
    explicit Server(const ServerConfig& config);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The start-up sequence. False, after cleaning up, when the server
    // cannot run (its log says why).
    bool start();
    // Serves connections until stop is requested.
    void run(const platform::StopSignal& stop);
    // Moves logs that grew past MaxLogFileSize aside.
    void tick();
    // Runs at most once; also run by the destructor.
    void shut_down();

    // The port the server listens on (0 before start).
    std::uint16_t port() const;
    // The server log's path, for messages about a failed start.
    std::string log_path() const;

private:
    using Clock = std::chrono::steady_clock;

    bool open_listener();
    void empty_temp_dir(const std::string& dir);
    void fail_start();
    void dispatch(const platform::Poller::Event& event, Clock::time_point now);
    void accept_connections(Clock::time_point now);
    // The connection that makes room for a new one at MaxConnections, or null.
    HttpConnection* oldest_unanswered();
    void sweep(Clock::time_point now);
    void destroy_finished();

    const ServerConfig& m_config;
    std::unique_ptr<log::LogFile> m_log;
    codec::PasswordCodec m_codec;
    CgiTable m_cgi;
    mime_types::MimeTypeTable m_mime;
    AccessLog m_access_log;
    AuthThrottle m_throttle;
    platform::UniqueFd m_listen;
    std::optional<platform::Poller> m_poller;
    std::optional<platform::Wakeup> m_wakeup;
    std::unique_ptr<CgiBridge> m_bridge;
    std::unique_ptr<Router> m_router;
    std::unique_ptr<ServerContext> m_context;
    // By id, which grows with every accept: the first idle one is the oldest.
    std::map<std::uint64_t, std::unique_ptr<HttpConnection>> m_connections;
    std::vector<std::uint64_t> m_finished;
    std::uint64_t m_next_id = 1;
    std::size_t m_max_connections = 0;
    bool m_accept_pending = false;  // accepting failed for want of resources
    bool m_accept_full = false;     // at MaxConnections with nobody to drop
    std::string m_log_path;
    bool m_running = false;
};

}  // namespace corvane::webserver
