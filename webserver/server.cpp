#include "webserver/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "webserver/daemon.h"
#include "webserver/http_connection.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

Server::Server(const ServerConfig& config) : m_config(config), m_codec(codec::key_path_for(config.path())) {}

Server::~Server()
{
    shut_down();
}

std::string Server::log_path() const
{
    return m_log_path;
}

std::uint16_t Server::port() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (!m_listen || ::getsockname(m_listen.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void Server::empty_temp_dir(const std::string& dir)
{
    // Only files: the subdirectories belong to the engine's sessions (the
    // engine empties them itself when it starts), and the other server may
    // be running with live sessions right now.
    auto entries = fs::list_directory(dir);
    if (!entries)
        return;
    for (const auto& entry : *entries) {
        if (!entry.is_directory)
            (void)fs::remove_file(fs::join_path(dir, entry.name));
    }
}

bool Server::open_listener()
{
    std::string bind = m_config.bind_address();
    int port = m_config.port();
    in_addr address{};
    address.s_addr = htonl(INADDR_ANY);
    bool specific = !bind.empty() && bind != "0.0.0.0";
    // An address that does not read is refused: listening everywhere
    // instead would expose a server meant for one interface.
    if (specific && ::inet_pton(AF_INET, bind.c_str(), &address) != 1) {
        m_log->line(log::Level::error, "BindAddress %s is not an IPv4 address", text::without_controls(bind).c_str());
        m_log->line(log::Level::error, "Socket could not listen, error code %d", EINVAL);
        return false;
    }
    if (specific)
        m_log->line(log::Level::detail, "Attempting to listen on %s, port %d...", bind.c_str(), port);
    else
        m_log->line(log::Level::detail, "Attempting to listen on port %d...", port);
    if (port < 1 || port > 65535) {
        m_log->line(log::Level::error, "Socket could not listen, error code %d", EINVAL);
        return false;
    }

    fs::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int one = 1;
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_port = htons(static_cast<std::uint16_t>(port));
    socket_address.sin_addr = address;
    // SO_REUSEADDR: a restart must not wait for the old connections'
    // TIME_WAIT to pass.
    if (!fd || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&socket_address), sizeof socket_address) != 0 ||
        ::listen(fd.get(), SOMAXCONN) != 0) {
        m_log->line(log::Level::error, "Socket could not listen, error code %d", errno);
        return false;
    }
    m_listen = std::move(fd);
    return true;
}

void Server::fail_start()
{
    m_listen.reset();
    m_log->line(log::Level::lifecycle, "Larkd exiting.");
    m_log.reset();
}

bool Server::start()
{
    const auto& id = m_config.identity();
    // Every setting goes back into the file first, with its effective value.
    m_config.write_back();
    std::string temp_dir = m_config.temp_dir();
    (void)fs::make_directories(temp_dir);
    empty_temp_dir(temp_dir);

    std::string log_dir = m_config.log_dir();
    (void)fs::make_directories(log_dir);

    int level = m_config.log_level();

    log::LogSettings settings;
    settings.directory = log_dir;
    settings.file_name = std::string(id.server_log);
    settings.rotation = log::Rotation::none;
    settings.size_limit_kb = m_config.max_log_file_size_kb();
    settings.product = std::string(id.product);
    settings.lock_file = false;
    settings.threshold = level;
    m_log = std::make_unique<log::LogFile>(settings);
    m_log_path = m_log->current_path();
    m_log->line(log::Level::lifecycle, "Larkd initializing...");

    if (!open_listener()) {
        fail_start();
        return false;
    }
    if (!m_cgi.load(m_config, m_codec, *m_log)) {
        fail_start();
        return false;
    }
    m_log->line(log::Level::detail, "Initializing timer...");

    if (!fs::is_directory(m_config.html_dir()))
        m_log->line(log::Level::notable, "Could not find HTML directory.");
    if (!fs::is_directory(m_config.cgi_dir()))
        m_log->line(log::Level::notable, "Could not find CGI directory.");

    std::string base_dir = m_config.base_dir();
    if (!m_mime.load(fs::join_path(base_dir, "MimeTypes.cfg")))
        m_log->line(log::Level::notable, "Could not load MimeTypes.cfg.");
    m_access_log.open(fs::join_path(log_dir, id.access_log));
    m_running = true;
    return true;
}

void Server::accept_one()
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(m_listen.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED)
            return;
        m_log->line(log::Level::error, "Could not accept connection, Winsock error : %d", error);
        // Out of descriptors or memory: the listening socket stays ready, so
        // pause rather than spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return;
    }
    ServerContext context{m_config, *m_log, m_codec, m_cgi, m_mime, m_access_log};
    HttpConnection connection(context, fs::UniqueFd(fd), peer.sin_addr.s_addr);
    connection.serve();
}

void Server::run(const StopSignal& stop)
{
    using clock = std::chrono::steady_clock;
    auto next_tick = clock::now() + tick_period;
    while (m_running && !stop.requested()) {
        pollfd fds[2] = {{m_listen.get(), POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - clock::now()).count();
        int n = ::poll(fds, 2, wait < 0 ? 0 : static_cast<int>(wait));
        if (stop.requested())
            break;
        if (n > 0 && (fds[0].revents & POLLIN))
            accept_one();
        auto now = clock::now();
        if (now >= next_tick) {
            tick();
            next_tick = now + tick_period;
        }
    }
    if (m_log)
        m_log->line(log::Level::routine, "Larkd received shutdown notice.");
}

void Server::tick()
{
    if (!m_running)
        return;
    int max_kb = m_config.max_log_file_size_kb();
    m_access_log.rotate_if_larger(max_kb);
    m_log->set_size_limit_kb(max_kb);
    m_log->check_rotation();
}

void Server::shut_down()
{
    if (!m_running)
        return;
    m_running = false;
    m_mime.clear();
    m_log->line(log::Level::detail, "Closing listen socket...");
    m_listen.reset();
    m_cgi.shut_down(*m_log);
    m_access_log.close();
    m_log->line(log::Level::lifecycle, "Larkd exiting.");
    m_log.reset();
}

}  // namespace corvane::webserver
