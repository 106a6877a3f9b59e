// The running web server: start-up, the event loop, the 5-second tick and
// the orderly shutdown.
//
// start() prepares the directories, opens the server log, writes every
// setting it knows back into Corvane.ini, listens on BindAddress:Port, loads
// and starts the CGIs, loads MimeTypes.cfg and opens the access log. run()
// accepts one connection at a time and serves it to its end; between
// connections it runs the tick, which moves a too-large access log or server
// log aside, and it ends when a stop has been requested (a stop that arrives
// while a connection is served takes effect after that connection).
// shut_down() tells the CGI libraries to shut down and closes the logs.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "common/platform/unique_fd.h"
#include "webserver/access_log.h"
#include "webserver/cgi_table.h"
#include "webserver/mime_table.h"
#include "webserver/server_config.h"

namespace corvane::webserver {

constexpr std::chrono::seconds tick_period{5};

class StopSignal;

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
    void run(const StopSignal& stop);
    // Moves logs that grew past MaxLogFileSize aside.
    void tick();
    // Runs at most once; also run by the destructor.
    void shut_down();

    // The port the server listens on (0 before start).
    std::uint16_t port() const;
    // The server log's path, for messages about a failed start.
    std::string log_path() const;

private:
    bool open_listener();
    void empty_temp_dir(const std::string& dir);
    void accept_one();
    void fail_start();

    const ServerConfig& m_config;
    std::unique_ptr<log::LogFile> m_log;
    codec::PasswordCodec m_codec;
    CgiTable m_cgi;
    MimeTable m_mime;
    AccessLog m_access_log;
    platform::UniqueFd m_listen;
    std::string m_log_path;
    bool m_running = false;
};

}  // namespace corvane::webserver
