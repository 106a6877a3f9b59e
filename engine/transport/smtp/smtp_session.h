// The SMTP session: hands one finished message file to the configured
// relay.
//
// A session splits the recipient text at "," and ";" outside quotes,
// reduces each piece to its bare address, connects (optionally from the
// web server's bind address, optionally with TLS from the first byte on
// port 465), runs the dialogue and streams the file:
//
//   greeting 2xx -> EHLO (HELO when ESMTP is off; a refused EHLO falls back
//   to HELO once) -> [STARTTLS, EHLO again] -> [AUTH PLAIN or LOGIN]
//   -> MAIL FROM (with SIZE when the relay announced it) -> RCPT TO for
//   each recipient, in order -> DATA -> the file -> "." -> QUIT
//
// Every reply must begin with three digits followed by a blank, "-" or the
// end of the line, and its first digit must be the one the state expects;
// anything else is a protocol error and ends the session without QUIT (a
// rejected recipient ends it too: no later recipient is tried). Only the
// final line of a multi-line reply moves the dialogue on.
//
// The file is sent as it stands on disk with two changes the wire needs:
// every line end becomes CR LF (the store keeps LF), and a "." that begins
// a line is doubled (also the very first byte, also across blocks). The
// terminator follows the last line; a file without a final line end gets
// one. The file is read in blocks and the next block goes out only when
// the last has been sent, so a large message never sits in memory.
//
// Security: with TLS set to STARTTLS the relay must offer it, or nothing
// is sent (no silent fall-back to plain text); certificates are verified
// (engine/transport/line_client). Credentials go out only after EHLO, with
// AUTH PLAIN when offered, else LOGIN; the log shows them as "****".
// Addresses never carry CR, LF or other control bytes into a command.
//
// The silence between two events is bounded (150 s by default); the whole
// dialogue is not. One session serves one message on the calling thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/log/log_file.h"
#include "common/platform/input_file.h"
#include "engine/transport/line_client/line_client.h"

namespace corvane::transport {

enum class SmtpTls {
    none,      // plain text
    starttls,  // upgraded after EHLO; the relay must offer it
    implicit,  // TLS from the first byte (port 465)
};

// "No", "STARTTLS", "Yes" (any case); anything else is none.
SmtpTls smtp_tls_from_text(std::string_view text);

struct SmtpSettings {
    std::string host = "mail";  // at most 127 bytes
    int port = 25;
    std::string helo_domain = "Corvane";  // at most 127 bytes
    bool use_esmtp = true;
    std::string bind_address;  // [WebServer] BindAddress
    SmtpTls tls = SmtpTls::none;
    std::string ca_file;  // trusted besides the system store
    std::string user;     // AUTH when not empty
    std::string password;
    std::chrono::milliseconds idle_timeout{150000};
};

enum class SmtpResult : int {
    none = 0,
    no_recipient = 2,
    no_message_file = 3,
    no_connection = 4,
    timed_out = 5,
    wait_error = 6,
    overflow = 7,
    closed_by_server = 8,
    socket_error = 9,
    protocol_error = 10,
    tls_failed = 11,    // no STARTTLS offered, or the handshake or certificate failed
    auth_refused = 12,  // the relay refused the credentials or offers no AUTH we speak
};

// Longest reply line taken (the receive buffer of the dialogue).
constexpr std::size_t max_smtp_reply = 511;

class SmtpSession final : private LineClient {
public:
    SmtpSession(SmtpSettings settings, log::Logger& log);
    ~SmtpSession() override;

    // True only when the relay accepted the message (the reply to the end
    // of the data was positive).
    bool send(std::string_view from, std::string_view recipients, const std::string& message_path);
    SmtpResult result() const { return m_result; }
    // The reply line that ended the session with a protocol error.
    const std::string& last_reply() const { return m_last_reply; }

    // The bare addresses of a recipient text, in order.
    static std::vector<std::string> recipient_addresses(std::string_view recipients);

private:
    enum class State {
        greeting,
        hello,
        starttls,
        auth_plain,
        auth_login,
        auth_login_user,
        auth_login_password,
        mail_and_rcpt,
        data,
        sending,
        end_of_data,
        quit,
    };

    void on_line(std::string_view line) override;
    void on_close() override;
    void on_receive_error(int error) override;
    void on_overflow() override;
    void on_sent() override;

    char expected_digit() const;
    void final_reply(std::string_view line);
    void after_hello();
    void start_mail();
    void command(std::string_view text, State next);
    void command_logged_as(std::string_view text, std::string_view shown, State next);
    void send_next_block();
    void fail(SmtpResult result);
    void protocol_error(std::string_view line);

    SmtpSettings m_settings;
    log::Logger& m_log;
    State m_state = State::greeting;
    bool m_esmtp = true;
    bool m_size = false;
    bool m_starttls_offered = false;
    bool m_auth_plain = false;
    bool m_auth_login = false;
    bool m_hello_refused = false;  // EHLO was refused: the final line sends HELO
    std::string m_from;
    std::vector<std::string> m_recipients;
    std::size_t m_next_recipient = 0;
    platform::InputFile m_file;
    std::uint64_t m_wire_size = 0;
    bool m_at_line_start = true;
    bool m_cr_pending = false;
    bool m_success = false;
    bool m_finished = false;
    SmtpResult m_result = SmtpResult::none;
    std::string m_last_reply;
    std::string m_block;
    std::string m_out;
};

}  // namespace corvane::transport
