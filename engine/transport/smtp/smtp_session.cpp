#include "engine/transport/smtp/smtp_session.h"

#include <algorithm>

#include "common/platform/files.h"
#include "common/text/base64.h"
#include "common/text/strings.h"
#include "engine/store/addresses/address_helpers.h"

namespace corvane::transport {
namespace {

constexpr std::size_t kMaxHost = 127;
constexpr std::size_t kBlock = 64 * 1024;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// An address as it may stand in a command: no control byte, no blank.
std::string command_safe(std::string_view address)
{
    std::string out;
    for (char c : address) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u != 0x7F)
            out += c;
    }
    return out;
}

// The text of a reply line after its code and separator.
std::string_view reply_text(std::string_view line)
{
    return line.size() > 4 ? line.substr(4) : std::string_view();
}

bool begins_with_word(std::string_view text, std::string_view word)
{
    return text::istarts_with(text, word) &&
           (text.size() == word.size() || text[word.size()] == ' ' || text[word.size()] == '=');
}

}  // namespace

SmtpTls smtp_tls_from_text(std::string_view text)
{
    const std::string_view t = text::trim(text);
    if (text::iequals(t, "STARTTLS"))
        return SmtpTls::starttls;
    if (!t.empty() && (t[0] == 'Y' || t[0] == 'y' || t[0] == 'T' || t[0] == 't' || t[0] == '1'))
        return SmtpTls::implicit;
    return SmtpTls::none;
}

SmtpSession::SmtpSession(SmtpSettings settings, log::Logger& log)
    : LineClient(max_smtp_reply), m_settings(std::move(settings)), m_log(log), m_esmtp(m_settings.use_esmtp)
{
    m_settings.host = text::bounded(m_settings.host, kMaxHost);
    m_settings.helo_domain = command_safe(text::bounded(m_settings.helo_domain, kMaxHost));
}

SmtpSession::~SmtpSession() = default;

std::vector<std::string> SmtpSession::recipient_addresses(std::string_view recipients)
{
    std::vector<std::string> out;
    for (std::string_view piece : addresses::split_list(recipients)) {
        std::string address = command_safe(addresses::bare_address(piece));
        if (!address.empty())
            out.push_back(std::move(address));
    }
    return out;
}

bool SmtpSession::send(std::string_view from, std::string_view recipients, const std::string& message_path)
{
    m_log.message(log::Level::detail, "SMTP Starting");
    m_from = command_safe(addresses::bare_address(from));
    m_recipients = recipient_addresses(recipients);
    if (m_recipients.empty()) {
        m_log.message(log::Level::error, "SMTP Message not To: anyone");
        m_result = SmtpResult::no_recipient;
        return false;
    }
    auto file = platform::InputFile::open(message_path);
    if (!file) {
        m_log.message(log::Level::error, "SMTP Could not open message file");
        m_result = SmtpResult::no_message_file;
        return false;
    }
    m_file = std::move(*file);
    // What goes over the wire: the file with its bare LFs made CR LF.
    {
        auto count = platform::InputFile::open(message_path);
        std::string block(kBlock, '\0');
        char previous = '\0';
        while (count) {
            const std::size_t n = count->read(block.data(), block.size());
            for (std::size_t i = 0; i < n; ++i) {
                if (block[i] == '\n' && previous != '\r')
                    ++m_wire_size;
                previous = block[i];
            }
            m_wire_size += n;
            if (n < block.size())
                break;
        }
    }

    m_log.line(log::Level::routine, "SMTP Connecting to %s:%d", m_settings.host.c_str(), m_settings.port);
    auto connected = connect(m_settings.host, m_settings.port, m_settings.bind_address, m_settings.idle_timeout);
    if (!connected) {
        m_log.line(log::Level::error, "SMTP Could not connect.  Winsock error %d", connected.error().code);
        m_result = SmtpResult::no_connection;
        return false;
    }
    if (m_settings.tls == SmtpTls::implicit) {
        auto secured = start_tls({m_settings.host, m_settings.ca_file}, m_settings.idle_timeout);
        if (!secured) {
            m_log.line(log::Level::error, "SMTP TLS failed: %s", secured.error().text.c_str());
            m_result = SmtpResult::tls_failed;
            close();
            return false;
        }
    }
    m_result = SmtpResult::none;
    switch (run(m_settings.idle_timeout)) {
    case Ended::done:
        break;
    case Ended::timed_out:
        m_log.message(log::Level::error, "SMTP Connection timed out");
        m_result = SmtpResult::timed_out;
        break;
    case Ended::wait_failed:
        m_log.line(log::Level::error, "SMTP Windows wait error : %d", last_error());
        m_result = SmtpResult::wait_error;
        break;
    }
    close();
    m_file.close();
    m_log.line(log::Level::routine, "SMTP Completed %s", m_success ? "successfully" : "unsuccessfully");
    return m_success;
}

char SmtpSession::expected_digit() const
{
    switch (m_state) {
    case State::data:
    case State::auth_login:
    case State::auth_login_user:
        return '3';
    default:
        return '2';
    }
}

void SmtpSession::on_line(std::string_view line)
{
    m_log.line(log::Level::detail, "SMTP >>> %.*s", static_cast<int>(line.size()), line.data());
    if (m_finished)
        return;
    const bool well_formed = line.size() >= 3 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]) &&
                             (line.size() == 3 || line[3] == ' ' || line[3] == '-');
    if (!well_formed) {
        protocol_error(line);
        return;
    }
    const bool final_line = line.size() == 3 || line[3] == ' ';
    if (line[0] != expected_digit()) {
        // A relay that does not know EHLO gets HELO instead, once.
        if (m_state == State::hello && m_esmtp) {
            m_hello_refused = true;
            if (final_line) {
                m_esmtp = false;
                m_hello_refused = false;
                if (m_settings.tls == SmtpTls::starttls || !m_settings.user.empty()) {
                    // What we were told to use needs ESMTP.
                    m_log.line(log::Level::error, "SMTP Relay refused EHLO: %.*s", static_cast<int>(line.size()),
                               line.data());
                    fail(m_settings.user.empty() ? SmtpResult::tls_failed : SmtpResult::auth_refused);
                    return;
                }
                command("HELO " + m_settings.helo_domain + "\r\n", State::hello);
            }
            return;
        }
        if (m_state == State::auth_plain || m_state == State::auth_login || m_state == State::auth_login_user ||
            m_state == State::auth_login_password) {
            m_log.line(log::Level::error, "SMTP Authentication refused: %.*s", static_cast<int>(line.size()),
                       line.data());
            fail(SmtpResult::auth_refused);
            return;
        }
        protocol_error(line);
        return;
    }
    if (m_state == State::hello && m_esmtp && !m_hello_refused) {
        const std::string_view text = reply_text(line);
        if (begins_with_word(text, "SIZE"))
            m_size = true;
        if (begins_with_word(text, "STARTTLS"))
            m_starttls_offered = true;
        if (begins_with_word(text, "AUTH")) {
            const std::string upper = text::upper(text.substr(5));
            for (std::size_t at = 0; at < upper.size();) {
                std::size_t end = upper.find(' ', at);
                if (end == std::string::npos)
                    end = upper.size();
                const std::string_view mechanism = std::string_view(upper).substr(at, end - at);
                if (mechanism == "PLAIN")
                    m_auth_plain = true;
                else if (mechanism == "LOGIN")
                    m_auth_login = true;
                at = end + 1;
            }
        }
    }
    if (final_line)
        final_reply(line);
}

void SmtpSession::final_reply(std::string_view line)
{
    switch (m_state) {
    case State::greeting:
        command((m_esmtp ? "EHLO " : "HELO ") + m_settings.helo_domain + "\r\n", State::hello);
        break;
    case State::hello:
        after_hello();
        break;
    case State::starttls: {
        auto secured = start_tls({m_settings.host, m_settings.ca_file}, m_settings.idle_timeout);
        if (!secured) {
            m_log.line(log::Level::error, "SMTP TLS failed: %s", secured.error().text.c_str());
            fail(SmtpResult::tls_failed);
            return;
        }
        // What the relay said before TLS counts no more.
        m_size = m_starttls_offered = m_auth_plain = m_auth_login = false;
        command("EHLO " + m_settings.helo_domain + "\r\n", State::hello);
        break;
    }
    case State::auth_login:
        command_logged_as(text::base64_encode(m_settings.user) + "\r\n", "****", State::auth_login_user);
        break;
    case State::auth_login_user:
        command_logged_as(text::base64_encode(m_settings.password) + "\r\n", "****", State::auth_login_password);
        break;
    case State::auth_plain:
    case State::auth_login_password:
        start_mail();
        break;
    case State::mail_and_rcpt:
        if (m_next_recipient < m_recipients.size()) {
            command("RCPT TO:<" + m_recipients[m_next_recipient++] + ">\r\n", State::mail_and_rcpt);
        } else {
            command("DATA\r\n", State::data);
        }
        break;
    case State::data:
        m_state = State::sending;
        send_next_block();
        break;
    case State::sending:
        // The relay spoke while the data went out: it may only refuse.
        protocol_error(line);
        break;
    case State::end_of_data:
        m_success = true;
        command("QUIT\r\n", State::quit);
        break;
    case State::quit:
        m_finished = true;
        finish();
        break;
    }
}

void SmtpSession::after_hello()
{
    if (m_settings.tls == SmtpTls::starttls && !secure()) {
        if (!m_starttls_offered) {
            m_log.message(log::Level::error, "SMTP Relay does not offer STARTTLS");
            fail(SmtpResult::tls_failed);
            return;
        }
        command("STARTTLS\r\n", State::starttls);
        return;
    }
    if (!m_settings.user.empty()) {
        if (m_auth_plain) {
            std::string credentials;
            credentials += '\0';
            credentials += m_settings.user;
            credentials += '\0';
            credentials += m_settings.password;
            command_logged_as("AUTH PLAIN " + text::base64_encode(credentials) + "\r\n", "AUTH PLAIN ****",
                              State::auth_plain);
        } else if (m_auth_login) {
            command("AUTH LOGIN\r\n", State::auth_login);
        } else {
            m_log.message(log::Level::error, "SMTP Relay offers no authentication we speak");
            fail(SmtpResult::auth_refused);
        }
        return;
    }
    start_mail();
}

void SmtpSession::start_mail()
{
    std::string mail = "MAIL FROM:<" + m_from + ">";
    if (m_size && m_esmtp)
        mail += " SIZE=" + std::to_string(m_wire_size);
    m_next_recipient = 0;
    command(mail + "\r\n", State::mail_and_rcpt);
}

void SmtpSession::command(std::string_view text, State next)
{
    command_logged_as(text, text.substr(0, text.size() - 2), next);
}

void SmtpSession::command_logged_as(std::string_view text, std::string_view shown, State next)
{
    m_log.line(log::Level::detail, "SMTP <<< %.*s", static_cast<int>(shown.size()), shown.data());
    m_state = next;
    LineClient::send(text);
}

void SmtpSession::send_next_block()
{
    if (m_state != State::sending || m_finished)
        return;
    m_block.resize(kBlock);
    const std::size_t n = m_file.read(m_block.data(), m_block.size());
    m_out.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = m_block[i];
        if (m_cr_pending) {
            m_cr_pending = false;
            m_out += "\r\n";
            m_at_line_start = true;
            if (c == '\n')
                continue;
        }
        if (c == '\r') {
            m_cr_pending = true;
        } else if (c == '\n') {
            m_out += "\r\n";
            m_at_line_start = true;
        } else {
            if (c == '.' && m_at_line_start)
                m_out += '.';
            m_out += c;
            m_at_line_start = false;
        }
    }
    if (n < m_block.size()) {
        if (m_file.failed()) {
            // Half a message must not be accepted: the relay sees the
            // connection end without the terminator.
            m_log.line(log::Level::error, "SMTP Could not read the message file: error %d", m_file.error());
            fail(SmtpResult::no_message_file);
            return;
        }
        if (m_cr_pending) {
            m_cr_pending = false;
            m_out += "\r\n";
            m_at_line_start = true;
        }
        m_out += m_at_line_start ? ".\r\n" : "\r\n.\r\n";
        m_file.close();
        // The next reply answers the end of the data: replies are read
        // only once everything queued has gone out.
        m_state = State::end_of_data;
    }
    LineClient::send(m_out);
}

void SmtpSession::on_sent()
{
    if (m_state == State::sending)
        send_next_block();
}

void SmtpSession::fail(SmtpResult result)
{
    m_result = result;
    m_finished = true;
    finish();
}

void SmtpSession::protocol_error(std::string_view line)
{
    m_log.line(log::Level::error, "SMTP Protocol error : %.*s", static_cast<int>(line.size()), line.data());
    m_last_reply = std::string(line);
    fail(SmtpResult::protocol_error);
}

void SmtpSession::on_close()
{
    if (m_finished)
        return;
    m_log.message(log::Level::error, "SMTP Connection closed by server");
    m_result = SmtpResult::closed_by_server;
    m_finished = true;
    finish();
}

void SmtpSession::on_receive_error(int error)
{
    if (m_finished)
        return;
    m_log.line(log::Level::error, "SMTP Winsock error on receive : %d", error);
    fail(SmtpResult::socket_error);
}

void SmtpSession::on_overflow()
{
    if (m_finished)
        return;
    m_log.message(log::Level::error, "SMTP Receive buffer overflow");
    fail(SmtpResult::overflow);
}

}  // namespace corvane::transport
