#include "engine/transport/pop3/pop3_session.h"

#include <algorithm>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/store_files.h"
#include "engine/transport/pop3/replies.h"

namespace corvane::pop3 {

namespace {

using log::Level;

// What a server says goes into the log without bytes that would break it.
std::string loggable(std::string_view text)
{
    return text::without_controls(text::cut(text, 400));
}

std::chrono::milliseconds as_ms(std::chrono::seconds s)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(s);
}

}  // namespace

Security security_of(const mailboxes::MailboxRecord& mailbox)
{
    std::string_view value = text::trim(mailbox.tls);
    if (value.empty())
        return mailbox.port == 995 ? Security::tls : Security::plain;
    if (text::iequals(value, "STARTTLS") || text::iequals(value, "STLS"))
        return Security::starttls;
    return ini::is_yes(value) ? Security::tls : Security::plain;
}

Settings Settings::from(const ini::Profile& engine)
{
    Settings settings;
    int timeout = engine.number("PopClient", "Timeout", 30);
    settings.timeout = std::chrono::seconds(timeout < 1 ? 30 : timeout);
    int cutoff = engine.number("PopClient", "RetrCutoff", 4096);
    settings.retr_cutoff = cutoff < 0 ? 0 : static_cast<std::uint32_t>(cutoff);
    settings.bind_address = engine.text("WebServer", "BindAddress", "0.0.0.0", 63);
    settings.ca_file = engine.text("PopClient", "CAFile", "");
    return settings;
}

Pop3Session::Pop3Session(const mailboxes::MailboxRecord& mailbox, store::MessageIndex& index, log::Logger& log,
                         Settings settings)
    : LineClient(max_reply_line),
      m_mailbox(mailbox),
      m_index(index),
      m_log(log),
      m_settings(std::move(settings)),
      m_progress(std::make_shared<Progress>(mailbox.mailbox))
{
}

Pop3Session::~Pop3Session()
{
    m_receiver.reset();
}

// ---- the three modes --------------------------------------------------------

bool Pop3Session::get_mail(const receiver::FilterContext& filters)
{
    m_mode = Mode::fetch;
    m_progress->mode = Mode::fetch;
    m_filters = filters;
    m_log.line(Level::routine, "POP3 Getting mail from mailbox %s", loggable(m_mailbox.mailbox).c_str());
    if (!m_mailbox.active) {
        m_log.line(Level::detail, "POP3 Mailbox not active");
        m_result = ResultCode::not_active;
        return true;
    }
    const std::string uid_path = m_index.uid_file_path(m_mailbox.mailbox);
    if (uid_path.empty()) {
        m_log.line(Level::error, "POP3 Mailbox name %s cannot name a UID file", loggable(m_mailbox.mailbox).c_str());
        m_result = ResultCode::unexpected_reply;
        return false;
    }
    for (auto& id : read_uid_file(uid_path))
        m_old_ids.insert(text::lower(id));

    connection();

    if (m_write_uid) {
        // The index first: a UID file must never name a message the index
        // on disk does not have.
        save_index();
        if (auto written = write_uid_file(uid_path, m_keep_ids); !written)
            m_log.line(Level::error, "POP3 Could not write the UID file : %s", written.error().text.c_str());
    }
    log_retrieved();
    return m_completed;
}

bool Pop3Session::get_single(store::MessageEntry& entry)
{
    m_mode = Mode::single;
    m_progress->mode = Mode::single;
    m_single = &entry;
    m_log.line(Level::routine, "POP3 Getting single message");
    connection();
    log_retrieved();

    const bool downloaded = entry.has(store::flags::downloaded);
    if (downloaded && entry.has(store::flags::copy_pending)) {
        entry.flags &= ~store::flags::copy_pending;
        m_index.mark_dirty();
        // Copies made while only the header was here wait for the files.
        // A copy is an entry of the same message: same mailbox, same server
        // identifier (a copy-pending entry of another message must not get
        // this one's files).
        const std::string from_message = m_index.message_path(entry);
        const std::string from_parts = m_index.part_list_path(entry);
        for (auto& other : m_index.entries()) {
            if (other.get() == &entry || !other->has(store::flags::copy_pending) ||
                other->has(store::flags::downloaded) || other->server_id.empty() ||
                other->server_id != entry.server_id || !text::iequals(other->mailbox, entry.mailbox))
                continue;
            const std::string to_message = m_index.message_path(*other);
            if (to_message.empty() || !store::copy_file(from_message, to_message))
                continue;
            if (platform::exists(from_parts))
                (void)store::copy_file(from_parts, m_index.part_list_path(*other));
            other->flags |= store::flags::downloaded;
            other->flags &= ~store::flags::copy_pending;
            other->flags |= entry.flags & store::flags::multipart;
            other->parts.reset();
        }
    }
    return m_completed && downloaded;
}

bool Pop3Session::delete_on_server()
{
    m_mode = Mode::deletion;
    m_progress->mode = Mode::deletion;
    auto waiting = [this](const store::MessageEntry& e) {
        return e.folder.empty() && text::iequals(e.mailbox, m_mailbox.mailbox);
    };
    for (const auto& entry : m_index.entries()) {
        if (waiting(*entry) && !entry->server_id.empty())
            m_delete_ids.insert(text::lower(entry->server_id));
    }
    if (m_delete_ids.empty())
        return true;
    connection();
    // DELE takes effect when the server accepts QUIT; before that the
    // messages are still there and the entries must stay for a later try.
    if (m_quit_accepted && m_completed) {
        m_index.prune_folderless(waiting);
        m_index.mark_dirty();
    }
    return true;
}

// ---- the connection --------------------------------------------------------

void Pop3Session::connection()
{
    m_log.line(Level::detail, "POP3 Connecting to %s", loggable(m_mailbox.host).c_str());
    auto connected = connect(m_mailbox.host, m_mailbox.port, m_settings.bind_address, as_ms(m_settings.timeout));
    if (!connected) {
        m_log.line(Level::error, "POP3 Could not connect.  Winsock error : %d", connected.error().code);
        m_log.line(Level::detail, "POP3 %s", loggable(connected.error().text).c_str());
        m_result = ResultCode::could_not_connect;
        return;
    }
    m_log.line(Level::detail, "POP3 Connected to server");
    bool ready = true;
    if (security_of(m_mailbox) == Security::tls) {
        auto secured = start_tls({m_mailbox.host, m_settings.ca_file}, as_ms(m_settings.timeout));
        if (!secured) {
            m_log.line(Level::error, "POP3 TLS with %s failed : %s", loggable(m_mailbox.host).c_str(),
                       loggable(secured.error().text).c_str());
            m_result = ResultCode::could_not_connect;
            ready = false;
        } else {
            m_log.line(Level::detail, "POP3 TLS : %s", tls_description().c_str());
        }
    }
    if (ready) {
        switch (run(as_ms(m_settings.timeout))) {
        case Ended::done:
            break;
        case Ended::timed_out:
            m_log.line(Level::error, "POP3 Connection timed out");
            fail(ResultCode::timed_out);
            break;
        case Ended::wait_failed:
            m_log.line(Level::error, "POP3 Windows wait error");
            fail(ResultCode::wait_error);
            break;
        }
    }
    drop_message();
    close();
    m_log.line(Level::detail, "POP3 Connection completed");
}

void Pop3Session::fail(ResultCode code)
{
    m_result = code;
    drop_message();
    finish();
}

void Pop3Session::drop_message()
{
    if (m_receiver) {
        m_receiver->discard();
        m_receiver.reset();
    }
    m_long_line = false;
}

void Pop3Session::command(std::string_view text, State next)
{
    command_logged_as(text, text, next);
}

void Pop3Session::command_logged_as(std::string_view text, std::string_view logged, State next)
{
    m_log.line(Level::detail, "POP3 <<< %s", loggable(logged).c_str());
    m_state = next;
    std::string wire = command_text(text);
    wire += "\r\n";
    send(wire);
}

void Pop3Session::quit()
{
    ++m_quits;
    command("QUIT", State::quit_sent);
}

void Pop3Session::on_close()
{
    if (m_state == State::quit_sent)
        return;
    m_log.line(Level::error, "POP3 Connection closed by server");
    fail(ResultCode::closed_by_server);
}

void Pop3Session::on_receive_error(int error)
{
    m_log.line(Level::error, "POP3 Winsock error on receive : %d", error);
    fail(ResultCode::closed_by_server);
}

void Pop3Session::on_overflow()
{
    m_log.line(Level::error, "POP3 Receive buffer overflow");
    fail(ResultCode::unexpected_reply);
}

// ---- replies ---------------------------------------------------------------

void Pop3Session::on_line(std::string_view line)
{
    if (m_state == State::top_data || m_state == State::retr_data) {
        data_line(line);
        return;
    }
    if (m_state == State::uidl_listing) {
        listing_line(line);
        return;
    }
    m_log.line(Level::detail, "POP3 >>> %s", loggable(line).c_str());
    if (!is_positive(line)) {
        rejected(line);
        return;
    }
    switch (m_state) {
    case State::greeting:
        if (security_of(m_mailbox) == Security::starttls && !secure())
            command("STLS", State::stls_sent);
        else
            command("USER " + m_mailbox.user, State::user_sent);
        break;
    case State::stls_sent:
        upgrade();
        break;
    case State::user_sent:
        command_logged_as("PASS " + m_mailbox.pass, "PASS ****", State::pass_sent);
        break;
    case State::pass_sent:
        command("STAT", State::stat_sent);
        break;
    case State::stat_sent:
        m_stat_count = stat_count(line);
        m_progress->server_count = m_stat_count;
        if (m_stat_count > 0)
            command("UIDL", State::uidl_sent);
        else
            end_of_listing();
        break;
    case State::uidl_sent:
        m_state = State::uidl_listing;
        break;
    case State::list_sent:
        fetch(line);
        break;
    case State::top_sent:
        m_state = State::top_data;
        break;
    case State::retr_sent:
        m_state = State::retr_data;
        break;
    case State::dele_after_retr:
        m_deleted_any = true;
        next_message();
        break;
    case State::dele_sent:
        m_deleted_any = true;
        next_deletion();
        break;
    case State::quit_sent:
        m_quit_accepted = true;
        finish();
        break;
    case State::uidl_listing:
    case State::top_data:
    case State::retr_data:
        break;
    }
}

void Pop3Session::rejected(std::string_view reply)
{
    m_log.line(Level::error, "POP3 Unexpected response : %s", loggable(reply).c_str());
    m_result = (m_state == State::user_sent || m_state == State::pass_sent) ? ResultCode::login_rejected
                                                                            : ResultCode::unexpected_reply;
    drop_message();
    // A server that refuses QUIT gets a few more tries, then the close.
    if (m_state == State::quit_sent && m_quits >= 3) {
        finish();
        return;
    }
    quit();
}

void Pop3Session::upgrade()
{
    auto secured = start_tls({m_mailbox.host, m_settings.ca_file}, as_ms(m_settings.timeout));
    if (!secured) {
        m_log.line(Level::error, "POP3 TLS with %s failed : %s", loggable(m_mailbox.host).c_str(),
                   loggable(secured.error().text).c_str());
        fail(ResultCode::could_not_connect);
        return;
    }
    m_log.line(Level::detail, "POP3 TLS : %s", tls_description().c_str());
    command("USER " + m_mailbox.user, State::user_sent);
}

// ---- the listing -----------------------------------------------------------

void Pop3Session::listing_line(std::string_view line)
{
    m_log.line(Level::detail, "POP3 >>> %s", loggable(line).c_str());
    if (line == ".") {
        end_of_listing();
        return;
    }
    if (++m_examined > max_listing) {
        m_log.line(Level::error, "POP3 Listing longer than %u lines", max_listing);
        fail(ResultCode::unexpected_reply);
        return;
    }
    m_progress->examined = m_examined;
    auto parsed = parse_uidl_line(line);
    if (!parsed) {
        m_log.line(Level::error, "POP3 Bad UIDL line : %s", loggable(line).c_str());
        return;
    }
    std::string id(parsed->id);
    switch (m_mode) {
    case Mode::deletion:
        if (m_delete_ids.count(text::lower(id)))
            m_list.push_back({parsed->number, std::move(id)});
        break;
    case Mode::single:
        if (m_single && id == m_single->server_id)
            m_list.push_back({parsed->number, std::move(id)});
        break;
    case Mode::fetch:
        if (m_old_ids.count(text::lower(id)))
            m_keep_ids.push_back(std::move(id));
        else
            m_list.push_back({parsed->number, std::move(id)});
        break;
    }
}

void Pop3Session::end_of_listing()
{
    m_position = 0;
    m_progress->to_handle = static_cast<std::uint32_t>(std::min<std::size_t>(m_list.size(), UINT32_MAX));
    m_progress->listed = true;
    if (m_mode == Mode::deletion) {
        next_deletion();
        return;
    }
    if (m_mode == Mode::fetch)
        m_write_uid = true;
    next_message();
}

void Pop3Session::next_message()
{
    m_progress->message_size = 0;
    m_progress->bytes_received = 0;
    if (m_position >= m_list.size()) {
        m_completed = true;
        // Deletions become final with QUIT: the messages they remove must
        // be in the index on disk by then.
        if (!save_index() && m_deleted_any) {
            m_log.line(Level::error, "POP3 Messages stay on the server until the index can be saved");
            finish();
            return;
        }
        quit();
        return;
    }
    const Listed& item = m_list[m_position++];
    m_progress->position = static_cast<std::uint32_t>(m_position);
    m_number = item.number;
    m_id = item.id;
    command(text::format("LIST %u", m_number), State::list_sent);
}

void Pop3Session::next_deletion()
{
    if (m_position >= m_list.size()) {
        m_completed = true;
        quit();
        return;
    }
    const Listed& item = m_list[m_position++];
    m_progress->position = static_cast<std::uint32_t>(m_position);
    command(text::format("DELE %u", item.number), State::dele_sent);
}

// ---- messages --------------------------------------------------------------

void Pop3Session::fetch(std::string_view list_reply)
{
    std::uint32_t size = 0;
    bool header_only = false;
    if (m_mode == Mode::single) {
        size = m_single->size;
        m_receiver = std::make_unique<receiver::MessageReceiver>(m_index, *m_single, m_settings.receiver);
    } else {
        auto listed = list_size(list_reply);
        if (!listed)
            m_log.line(Level::error, "POP3 No size in LIST reply : %s", loggable(list_reply).c_str());
        size = listed.value_or(0);
        // A message of unknown size is taken as a large one.
        header_only = m_settings.retr_cutoff != 0 && (!listed || size > m_settings.retr_cutoff);
        receiver::MessageReceiver::FromMailbox from{m_mailbox.mailbox, m_id, &m_keep_ids, m_filters};
        m_receiver = std::make_unique<receiver::MessageReceiver>(m_index, std::move(from), m_settings.receiver);
    }
    m_receiver->begin(size, header_only ? receiver::StoreMode::header_only : receiver::StoreMode::whole);
    m_progress->message_size = size;
    m_progress->bytes_received = 0;
    m_data_bytes = 0;
    m_data_limit = size > 0 ? std::min<std::uint64_t>(2ull * size + (1u << 20), max_message_bytes) : max_message_bytes;
    m_long_line = false;
    if (header_only)
        command(text::format("TOP %u 0", m_number), State::top_sent);
    else
        command(text::format("RETR %u", m_number), State::retr_sent);
}

bool Pop3Session::count_data(std::size_t bytes)
{
    m_data_bytes += bytes;
    m_progress->bytes_received = m_data_bytes;
    if (m_data_bytes <= m_data_limit)
        return true;
    m_log.line(Level::error, "POP3 Message %u is larger than the server said; not stored", m_number);
    fail(ResultCode::unexpected_reply);
    return false;
}

void Pop3Session::data_line(std::string_view line)
{
    if (!m_receiver)
        return;
    if (m_long_line) {
        // The end of a line that came in pieces.
        m_long_line = false;
        if (!count_data(line.size() + 2))
            return;
        m_receiver->write(line);
        m_receiver->write("\n");
        return;
    }
    Unstuffed data = unstuff(line);
    if (data.kind == DataLine::end) {
        end_of_data();
        return;
    }
    if (!count_data(line.size() + 2))
        return;
    m_receiver->line(data.text);
}

bool Pop3Session::on_line_piece(std::string_view piece)
{
    if ((m_state != State::top_data && m_state != State::retr_data) || !m_receiver)
        return false;
    if (!m_long_line) {
        m_long_line = true;
        piece = unstuff(piece).text;  // a long line is never the lone "."
    }
    if (!count_data(piece.size()))
        return true;
    m_receiver->write(piece);
    return true;
}

void Pop3Session::end_of_data()
{
    const bool whole = m_state == State::retr_data;
    if (!whole && m_receiver->header_pending())
        m_receiver->line("");
    store::MessageEntry* entry = m_receiver->finish();
    m_receiver.reset();
    if (!whole) {
        next_message();
        return;
    }
    const bool stored = entry && entry->has(store::flags::downloaded);
    if (!stored) {
        // Never delete on the server what is not safely here.
        m_log.line(Level::error, "POP3 Message %u could not be stored", m_number);
        next_message();
        return;
    }
    ++m_retrieved;
    if (m_mailbox.delete_mode == 2)
        command(text::format("DELE %u", m_number), State::dele_after_retr);
    else
        next_message();
}

bool Pop3Session::save_index()
{
    if (!m_index.dirty())
        return true;
    if (m_index.save())
        return true;
    m_log.line(Level::error, "POP3 Could not save the message index");
    return false;
}

void Pop3Session::log_retrieved()
{
    m_log.line(Level::routine, "POP3 %u message%s retrieved", m_retrieved, m_retrieved == 1 ? "" : "s");
}

}  // namespace corvane::pop3
