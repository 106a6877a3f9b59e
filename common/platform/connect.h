// Outgoing TCP connections: name resolution, the optional local address,
// a connect bounded in time, and non-blocking reads, writes and waits on
// one socket. The mail clients (POP3, SMTP) are built on these; nothing
// here knows a protocol or a line.
//
// Every socket made here is non-blocking and close-on-exec from its first
// moment, and writes never raise SIGPIPE (a peer that went away is an
// error code like any other). Error codes are errno values; a name that
// cannot be resolved reports EHOSTUNREACH with the resolver's text.
//
// What it does not do: listening and accepting (the web server's side),
// TLS (above this layer, over the bytes these calls move).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/platform/io.h"
#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

// The local IPv4 address to connect from: a dotted quad other than
// 0.0.0.0. Anything else (empty, "0.0.0.0", a name, garbage) means "let
// the system choose", which callers get as false.
bool is_bind_address(std::string_view text);

// Connects to host (a dotted or IPv6 address, or a name) and port. With a
// bind address (is_bind_address) the connection is IPv4 from that address,
// port chosen by the system; otherwise every address the name resolves to
// is tried in order. timeout_ms bounds the whole attempt (below 1: 30 s).
Result<UniqueFd> connect_tcp(std::string_view host, int port, std::string_view bind_address, int timeout_ms);

// One recv() of at most room bytes; interrupted calls are repeated.
IoResult receive_some(int fd, char* buffer, std::size_t room);
// One send() of as much of data as the socket takes now.
IoResult send_some(int fd, std::string_view data);

struct Readiness {
    bool timed_out = false;
    bool readable = false;
    bool writable = false;
    bool hung_up = false;  // the peer closed or reset; reads tell which
};
// Waits until the socket is readable (want_read), writable (want_write) or
// hung up, at most timeout_ms milliseconds (negative: without limit).
// Interrupted waits resume with the time that is left.
Result<Readiness> wait_socket(int fd, bool want_read, bool want_write, int timeout_ms);

// Ends our sending side (the peer reads end of stream); errors are ignored,
// a socket being closed has nothing more to say.
void shutdown_sending(int fd);

// The local and remote address of a connected socket as "address:port"
// (tests and log lines); empty when unknown.
std::string local_endpoint(int fd);
std::string peer_endpoint(int fd);

}  // namespace corvane::platform
