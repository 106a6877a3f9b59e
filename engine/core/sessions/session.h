// One session: the server-side state of a logged-on user, named by a
// session id that every later request carries.
//
// A Session lives in the SessionTable, which creates and destroys it; code
// that works with one holds it through a SessionHold (see session_table.h).
// Fields fall into three groups by who may touch them:
// - fixed at creation: id, client address, temporary directory, user;
// - shared with the maintenance thread (last access, current view, the names
//   shown in the shared slots): safe to read and write from any thread;
// - request state (views, flags, one-shot messages, key): only under the
//   request lock, which the dispatcher holds for the whole of a request.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/transport/pop3/progress.h"

namespace corvane::accounts {
class UserRecord;
}

namespace corvane::sessions {

constexpr std::size_t session_id_length = 7;

// View numbers the session table looks at.
constexpr int view_list = 3;
constexpr int view_compose = 6;
constexpr int view_compose_spell_check = 9;
inline bool is_compose_view(int view)
{
    return view >= view_compose && view <= view_compose_spell_check;
}

// Seven letters A-Z from the kernel's random source.
std::string make_session_id();
// True for seven upper-case letters and nothing else.
bool is_session_id(std::string_view text);
// 128 random bits as 32 lower-case hexadecimal digits: the key a browser
// session carries in a cookie beside the id that travels in every URL.
std::string make_session_key();

// The IPv4 address of a dotted quad ("10.0.0.7"), also inside an IPv4-mapped
// IPv6 address ("::ffff:10.0.0.7"), in network byte order; 0 for anything
// else (IPv6, names, garbage).
std::uint32_t parse_ipv4(std::string_view text);

// What a session was made for.
enum class SessionUse {
    browser,         // a logon in a browser; it carries a key cookie
    client_program,  // StatusCheck with Login: a mail client keeps using it
    status_check,    // one StatusCheck answer; it ends with its response
};

class SessionTable;

class Session {
public:
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    // ---- fixed at creation -------------------------------------------------
    const std::string& id() const { return m_id; }
    std::uint32_t client_address() const { return m_client_address; }
    const std::string& client_address_text() const { return m_client_address_text; }
    // TempDir + "/" + id: the compose directory, removed with the session.
    const std::string& temp_dir() const { return m_temp_dir; }
    SessionUse use() const { return m_use; }
    // The account's user record with its mail; released (its statistics
    // written) when the session goes.
    accounts::UserRecord* user() const { return m_user.get(); }

    // ---- any thread ----------------------------------------------------------
    std::time_t last_access() const { return m_last_access.load(std::memory_order_relaxed); }
    void set_last_access(std::time_t t) { m_last_access.store(t, std::memory_order_relaxed); }
    int current_view() const { return m_current_view.load(std::memory_order_relaxed); }
    void set_current_view(int view) { m_current_view.store(view, std::memory_order_relaxed); }
    // The user name as the table knows it ("*name*" once the session is
    // stuck), and the default mailbox's full name and e-mail for the slots.
    std::string user_name() const;
    std::string full_name() const;
    std::string email() const;
    // After the user changed the default mailbox record (options pages).
    void set_mailbox_identity(std::string_view full_name, std::string_view email);
    // Sessions made for the StatusCheck view skip the work on the user's
    // mail when they end.
    bool status_check() const { return m_status_check.load(std::memory_order_relaxed); }
    void set_status_check(bool on) { m_status_check.store(on, std::memory_order_relaxed); }
    int busy_count() const { return m_busy.load(); }
    int delete_attempts() const { return m_delete_attempts.load(); }

    // ---- under the request lock ---------------------------------------------
    // Held by the dispatcher for the whole work of one request and by the end
    // of the session. Lock order: the table's lock, then this one; a request
    // leaves this lock before it releases or kills the session.
    std::mutex& request_lock() { return m_request_lock; }
    // Guards the mail retrieval running for the session.
    std::mutex& session_lock() { return m_session_lock; }

    // ---- any thread, under the session lock ------------------------------------
    // The POP3 session running for this session, as its progress record: the
    // mail check sets it while a POP3 session runs (and clears it after);
    // the page other requests get meanwhile reads how far it has come. Null
    // when no POP3 session runs.
    void set_retrieval(std::shared_ptr<const pop3::Progress> progress)
    {
        std::lock_guard lock(m_session_lock);
        m_retrieval = std::move(progress);
    }
    std::shared_ptr<const pop3::Progress> retrieval() const
    {
        std::lock_guard lock(m_session_lock);
        return m_retrieval;
    }

    int previous_view = view_list;
    int frame_view = 0;
    // Time of the last completed mail check.
    std::time_t last_check = 0;
    // The number of the message the Message and Attachment views work on.
    std::optional<std::uint32_t> current_message;
    // The key of a browser session (empty for sessions made without one).
    std::string key;
    // The item a list tag renders its row template for: an index into the
    // address book, the filters, the mailbox records or the current
    // message's parts; -1 (or past the end) stands for the new, empty
    // entry. List tags set it and put the old value back.
    long current_item = -1;
    // The folder a folder list is at (an index into the folder list) while
    // one renders; nullopt outside folder lists.
    std::optional<std::size_t> folder_item;

    // A mail check runs after the response under the request lock, and other
    // requests of the session look at these before they take it.
    std::atomic<bool> retrieval_pending{false};
    std::atomic<bool> just_retrieved{false};

    // One-shot texts for the page: each is shown once, then gone.
    void set_error_message(std::string text) { m_error_message = std::move(text); }
    void set_status_message(std::string text) { m_status_message = std::move(text); }
    std::optional<std::string> take_error_message() { return std::exchange(m_error_message, std::nullopt); }
    std::optional<std::string> take_status_message() { return std::exchange(m_status_message, std::nullopt); }
    bool has_error_message() const { return m_error_message.has_value(); }
    bool has_status_message() const { return m_status_message.has_value(); }

private:
    friend class SessionTable;
    Session(std::string id, std::string_view client_address, std::unique_ptr<accounts::UserRecord> user,
            std::string temp_dir, SessionUse use);

    const std::string m_id;
    const SessionUse m_use;
    const std::uint32_t m_client_address;
    const std::string m_client_address_text;
    const std::string m_temp_dir;
    std::unique_ptr<accounts::UserRecord> m_user;

    std::atomic<std::time_t> m_last_access{0};
    std::atomic<int> m_current_view{0};
    std::atomic<bool> m_status_check{false};

    mutable std::mutex m_identity_mutex;
    std::string m_user_name;
    std::string m_full_name;
    std::string m_email;

    // Busy count and deletion state: changed only under the table's lock
    // (atomic so that readers elsewhere see whole values).
    std::atomic<int> m_busy{0};
    std::atomic<int> m_delete_attempts{0};
    bool m_deleting = false;  // the end of the session has begun: no new holders

    std::mutex m_request_lock;
    mutable std::mutex m_session_lock;
    std::shared_ptr<const pop3::Progress> m_retrieval;

    std::optional<std::string> m_error_message;
    std::optional<std::string> m_status_message;
};

}  // namespace corvane::sessions
