// TCP sockets for servers: a listening socket on an IPv4 address, accepting
// connections, the two ends' addresses, and the writes a server's event
// loop makes beyond connect.h's one-piece reads and writes (a header and a
// body in one call, a file straight from the page cache).
//
// Every socket made here is non-blocking and close-on-exec from its first
// moment, and writes never raise SIGPIPE: a peer that went away is an error
// code like any other. Error codes are errno values.
//
// What it does not do: wait for readiness (poller.h), connect to other
// hosts (connect.h, whose receive_some, send_some and shutdown_sending
// serve accepted sockets as well), TLS, or know any protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/connect.h"
#include "common/platform/io.h"
#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

struct Endpoint {
    std::string address;  // dotted IPv4 or IPv6 text
    std::uint16_t port = 0;
};

// Listens on address:port with the largest backlog the system allows. An
// empty address or "0.0.0.0" means every IPv4 address; anything else must
// be a dotted IPv4 address (EINVAL otherwise, never "everywhere" instead).
// Port 0 lets the system choose a free port (local_address tells which).
// A restarted server may take the port while old connections linger.
Result<UniqueFd> listen_tcp(std::string_view address, int port);

struct Accepted {
    UniqueFd socket;
    Endpoint peer;
};
// One waiting connection. The error code EAGAIN means none is waiting;
// ECONNABORTED (the client gave up while queued) is worth a retry too;
// EMFILE, ENFILE and ENOMEM mean the process is out of resources.
Result<Accepted> accept_connection(int listener);

std::optional<Endpoint> local_address(int socket);
std::optional<Endpoint> peer_address(int socket);

// One call for two pieces (a header block and the start of a body): the
// peer sees them in one segment where they fit. more_follows tells the
// system that the caller sends more at once (it may hold back a partial
// segment for it).
IoResult send_two(int socket, std::string_view first, std::string_view second, bool more_follows = false);
// Sends up to count bytes of an open file from offset, without copying
// them through this process.
IoResult send_file_some(int socket, int file, std::uint64_t offset, std::size_t count);

// Reads and drops what has arrived, up to max_bytes, without waiting:
// closed when the peer's end of stream was read, would_block when nothing
// more is there now, ok when max_bytes were dropped, failed on an error.
IoStatus discard_received(int socket, std::size_t max_bytes);

}  // namespace corvane::platform
