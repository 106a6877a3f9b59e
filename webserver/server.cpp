#include "webserver/server.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "common/ini/profile.h"
#include "common/platform/daemon.h"
#include "common/platform/files.h"
#include "common/platform/process.h"
#include "common/platform/sockets.h"
#include "common/text/strings.h"
#include "webserver/event_tokens.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

// How often deadlines are looked at while anything is open.
constexpr auto sweep_period = std::chrono::milliseconds(100);
// After a stop request, how long connections in progress may still take.
constexpr auto stop_grace = std::chrono::seconds(10);
// Descriptors one connection may hold: its socket, a body file, a CGI's
// pipe and process; and what the server keeps for itself.
constexpr std::size_t descriptors_per_connection = 4;
constexpr std::size_t reserved_descriptors = 64;

}  // namespace

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
    if (!m_listen)
        return 0;
    auto local = fs::local_address(m_listen.get());
    return local ? local->port : 0;
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
    bool specific = !bind.empty() && bind != "0.0.0.0";
    // An address that does not read is refused: listening everywhere
    // instead would expose a server meant for one interface.
    if (specific && !fs::is_bind_address(bind)) {
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
    auto listener = fs::listen_tcp(specific ? bind : std::string(), port);
    if (!listener) {
        m_log->line(log::Level::error, "Socket could not listen, error code %d", listener.error().code);
        return false;
    }
    m_listen = std::move(*listener);
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

    log::LogSettings settings;
    settings.directory = log_dir;
    settings.file_name = std::string(id.server_log);
    settings.rotation = log::Rotation::none;
    settings.size_limit_kb = m_config.max_log_file_size_kb();
    settings.product = std::string(id.product);
    settings.lock_file = false;
    settings.threshold = m_config.log_level();
    m_log = std::make_unique<log::LogFile>(settings);
    m_log_path = m_log->current_path();
    m_log->line(log::Level::lifecycle, "Larkd initializing...");

    auto poller = fs::Poller::create();
    auto wakeup = fs::Wakeup::create();
    if (!poller || !wakeup) {
        m_log->line(log::Level::error, "Could not initialize the event loop: %s",
                    (!poller ? poller.error() : wakeup.error()).text.c_str());
        fail_start();
        return false;
    }
    m_poller.emplace(std::move(*poller));
    m_wakeup.emplace(std::move(*wakeup));

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

    std::size_t descriptors = fs::raise_descriptor_limit();
    std::size_t affordable =
        descriptors > reserved_descriptors ? (descriptors - reserved_descriptors) / descriptors_per_connection : 8;
    m_max_connections = std::min<std::size_t>(static_cast<std::size_t>(m_config.max_connections()), affordable);
    m_bridge = std::make_unique<CgiBridge>(*m_poller, *m_wakeup, static_cast<std::size_t>(m_config.concurrent_cgis()));
    m_router = std::make_unique<Router>(m_config, m_codec, m_cgi, m_throttle);
    m_context = std::make_unique<ServerContext>(
        ServerContext{m_config, *m_log, m_mime, m_access_log, *m_router, *m_bridge, m_finished});
    m_running = true;
    return true;
}

void Server::accept_connections(Clock::time_point now)
{
    m_accept_pending = false;
    m_accept_full = false;
    while (m_listen) {
        HttpConnection* victim = nullptr;
        if (m_connections.size() >= m_max_connections) {
            victim = oldest_unanswered();
            if (!victim) {
                // Every connection is busy with a request: the new ones wait
                // in the listen queue until one ends.
                m_accept_full = true;
                return;
            }
        }
        auto accepted = fs::accept_connection(m_listen.get());
        if (!accepted) {
            int error = accepted.error().code;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            if (error == ECONNABORTED || error == EINTR)
                continue;
            m_log->line(log::Level::error, "Could not accept connection, Winsock error : %d", error);
            // Out of descriptors or memory: try again at the next sweep
            // rather than spin on a listening socket that stays ready.
            m_accept_pending = true;
            return;
        }
        // Room is made only for a client that is really there.
        if (victim) {
            victim->drop();
            destroy_finished();
        }
        std::uint64_t id = m_next_id++;
        int fd = accepted->socket.get();
        if (!m_poller->add(fd, fs::Poller::readable | fs::Poller::writable, make_token(TokenKind::connection, id))) {
            m_log->line(log::Level::error, "Could not accept connection, Winsock error : %d", errno);
            continue;
        }
        auto connection = std::make_unique<HttpConnection>(*m_context, std::move(*accepted), id, now);
        HttpConnection& c = *connection;
        m_connections.emplace(id, std::move(connection));
        c.start(now);
    }
}

HttpConnection* Server::oldest_unanswered()
{
    // The oldest connection still sending its header block goes first; when
    // every one has sent its request, the oldest still sending a body (a
    // client sending a body a byte at a time must not keep new clients out
    // either). Connections whose request is being answered stay.
    HttpConnection* victim = nullptr;
    for (auto& [id, connection] : m_connections) {
        if (connection->idle())
            return connection.get();
        if (!victim && connection->state() == HttpConnection::State::ReceivingBody)
            victim = connection.get();
    }
    return victim;
}

void Server::dispatch(const fs::Poller::Event& event, Clock::time_point now)
{
    std::uint64_t id = token_id(event.token);
    switch (token_kind(event.token)) {
    case TokenKind::listener:
        accept_connections(now);
        break;
    case TokenKind::stop:
        break;  // the loop looks at the flag
    case TokenKind::wakeup:
        m_wakeup->clear();
        m_bridge->on_wakeup();
        break;
    case TokenKind::connection:
        if (auto it = m_connections.find(id); it != m_connections.end())
            it->second->on_socket_event(event.events, now);
        break;
    case TokenKind::cgi_output:
        m_bridge->on_output_event(id);
        break;
    case TokenKind::cgi_exit:
        m_bridge->on_exit_event(id);
        break;
    }
}

void Server::sweep(Clock::time_point now)
{
    for (auto& [id, connection] : m_connections)
        connection->on_timer(now);
    m_bridge->sweep();
    destroy_finished();
    if (m_accept_pending || m_accept_full)
        accept_connections(now);
}

void Server::destroy_finished()
{
    while (!m_finished.empty()) {
        std::vector<std::uint64_t> ids;
        ids.swap(m_finished);
        for (std::uint64_t id : ids)
            m_connections.erase(id);
    }
}

void Server::run(const fs::StopSignal& stop)
{
    if (!m_running)
        return;
    (void)m_poller->add(m_listen.get(), fs::Poller::readable, make_token(TokenKind::listener, 0));
    (void)m_poller->add(stop.fd(), fs::Poller::readable, make_token(TokenKind::stop, 0));
    (void)m_poller->add(m_wakeup->fd(), fs::Poller::readable, make_token(TokenKind::wakeup, 0));

    std::array<fs::Poller::Event, 256> events;
    auto now = Clock::now();
    auto next_tick = now + tick_period;
    auto next_sweep = now + sweep_period;
    std::optional<Clock::time_point> stopping_until;
    // Clients may be waiting in the queue already.
    accept_connections(now);
    for (;;) {
        now = Clock::now();
        bool busy = !m_connections.empty() || m_bridge->runs() > 0 || m_accept_pending;
        auto until = busy ? std::min(next_tick, next_sweep) : next_tick;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        auto n = m_poller->wait(events, static_cast<int>(std::max<std::int64_t>(0, wait)));
        if (!n) {
            m_log->line(log::Level::error, "Windows wait error : %d", n.error().code);
            break;
        }
        now = Clock::now();
        // One look at Corvane.ini for everything handled in this round.
        ini::ReadScope settings_once(m_config.path());
        for (std::size_t i = 0; i < *n; ++i)
            dispatch(events[i], now);
        destroy_finished();
        if (m_accept_full && m_connections.size() < m_max_connections)
            accept_connections(now);
        if (now >= next_sweep) {
            sweep(now);
            next_sweep = now + sweep_period;
        }
        if (now >= next_tick) {
            tick();
            next_tick = now + tick_period;
        }
        if (stop.requested() && !stopping_until) {
            // New clients are refused from now on; those being served finish.
            m_poller->remove(m_listen.get());
            m_listen.reset();
            m_accept_pending = false;
            m_accept_full = false;
            stopping_until = now + stop_grace;
        }
        if (stopping_until && (m_connections.empty() || now >= *stopping_until))
            break;
    }
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
    // Connections still open write their lines and let go of their CGIs.
    m_connections.clear();
    m_finished.clear();
    m_log->line(log::Level::detail, "Closing listen socket...");
    m_listen.reset();
    // The libraries' ShutDown comes after their last Main has returned.
    m_bridge->shut_down();
    m_cgi.shut_down(*m_log);
    m_bridge.reset();
    m_access_log.close();
    m_log->line(log::Level::lifecycle, "Larkd exiting.");
    m_log.reset();
}

}  // namespace corvane::webserver
