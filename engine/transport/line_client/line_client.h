// The line client: one outgoing TCP connection of a line-oriented mail
// protocol (POP3, SMTP), driven by poll() on the thread that needs it.
//
// How a protocol uses it:
//
//     class Pop3Session : public transport::LineClient {
//         void on_line(std::string_view line) override;   // one reply line
//         void on_close() override;                       // the server hung up
//         void on_receive_error(int error) override;      // recv failed (errno)
//         void on_overflow() override;                    // a line too long
//     };
//
//     Pop3Session s(...);                       // LineClient(max_line)
//     auto c = s.connect(host, port, bind_address, timeout);
//     if (!c) log(c.error().code) ...;           // could not connect
//     if (port 995) s.start_tls({host, ca_file}, timeout);   // TLS from the first byte
//     switch (s.run(idle_timeout)) { done / timed_out / wait_failed }
//     s.close();
//
// Inside on_line() the protocol answers with send("CMD\r\n"), and calls
// finish() when its session is over; run() returns after that event. For a
// TLS upgrade (STLS, STARTTLS) the protocol calls start_tls() from on_line()
// on the server's positive reply: the handshake runs at once, and anything
// the server sent after that reply in plain text is thrown away (an
// attacker could have put it there). Lines come without their LF and
// without a CR just before it.
//
// The rules that make the event model safe:
// - A reply is never read while a command is still going out: while output
//   is pending the client waits only for room to send, so a server that
//   answers early has its answer processed once the command is fully sent.
// - on_sent() is called whenever all pending output has gone; a protocol
//   that sends a large body in pieces (SMTP DATA) sends the next one there.
// - The idle time-out given to run() restarts with every event: it bounds
//   the silence between two events, not the whole session.
// - A line longer than max_line bytes ends the session through
//   on_overflow(), unless the protocol takes such lines piece by piece by
//   overriding on_line_piece() (message data, where a long line is no
//   reason to lose the message); the end of such a line still comes to
//   on_line().
// - After on_close(), on_receive_error() or on_overflow() the session is
//   finished; lines that arrived before the close are handed over first.
//
// All system calls go through common/platform/connect.h; TLS bytes through
// TlsStream. A client serves exactly one connection and one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/connect.h"
#include "common/platform/result.h"
#include "common/platform/unique_fd.h"
#include "engine/transport/line_client/tls_stream.h"

namespace corvane::transport {

class LineClient {
public:
    // max_line: the longest line (without its line end) handed to on_line()
    // in one piece.
    explicit LineClient(std::size_t max_line);
    virtual ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    // Connects to host and port, from bind_address when it is a local IPv4
    // address (see platform::is_bind_address), within timeout. The error's
    // code is an errno value.
    Result<void> connect(std::string_view host, int port, std::string_view bind_address,
                         std::chrono::milliseconds timeout);
    // Runs the TLS handshake now; timeout bounds each wait for the server.
    // On failure the connection is no longer usable.
    Result<void> start_tls(const TlsOptions& options, std::chrono::milliseconds timeout);
    bool secure() const { return m_tls != nullptr; }
    // "TLSv1.3 TLS_AES_256_GCM_SHA384" once secure, else empty.
    std::string tls_description() const;

    // Queues text and sends as much of it as the socket takes now.
    void send(std::string_view text);
    bool sending() const { return !m_out.empty(); }

    enum class Ended {
        done,         // the protocol called finish(), or the connection ended
        timed_out,    // idle_timeout passed without an event
        wait_failed,  // poll() failed; last_error() says why
    };
    Ended run(std::chrono::milliseconds idle_timeout);

    // The protocol's session is over: run() returns after this event.
    void finish() { m_done = true; }
    bool finished() const { return m_done; }

    // Orderly close: our sending side shut down, what the server still sent
    // read and dropped, the socket closed. The destructor closes too.
    void close();
    bool connected() const { return m_fd.valid(); }

    // The errno value of the last failing socket call, 0 when none.
    int last_error() const { return m_last_error; }

    // For tests and log lines: "127.0.0.1:40312".
    std::string local_endpoint() const;

protected:
    virtual void on_line(std::string_view line) = 0;
    virtual void on_close() = 0;
    virtual void on_receive_error(int error) = 0;
    virtual void on_overflow() = 0;
    virtual void on_sent() {}
    // A part of a line that has grown past max_line. Return true to take
    // it (the rest follows in further pieces, the end in on_line()); the
    // default refuses, and the session ends through on_overflow().
    virtual bool on_line_piece(std::string_view) { return false; }

private:
    enum class Read { more, stop };
    Read receive();
    Read dispatch_lines();
    // Sends pending output; false on a socket error.
    bool send_pending();
    void after_failure(int error);
    platform::IoResult read_some(char* buffer, std::size_t room);
    Result<void> flush_blocking(std::chrono::milliseconds timeout);

    const std::size_t m_max_line;
    platform::UniqueFd m_fd;
    std::unique_ptr<TlsStream> m_tls;
    bool m_done = false;
    int m_last_error = 0;
    // A send failed: the server is gone, only its last words remain.
    bool m_send_failed = false;
    // Output was queued since on_sent() was last called.
    bool m_notify_sent = false;
    // Wire bytes waiting to be sent (ciphertext once secure).
    std::string m_out;
    std::size_t m_out_pos = 0;
    // Received bytes not yet handed over: the start of a line whose end
    // has not come yet, then whatever the last read brought.
    std::vector<char> m_in;
    std::size_t m_fill = 0;
    // Set by start_tls() while lines are being handed over: what is left
    // in the buffer came before the upgrade and must be dropped.
    bool m_upgraded = false;
};

}  // namespace corvane::transport
