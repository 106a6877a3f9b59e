// The session table: every live session of the engine, and the end of a
// session (expiry, logout, administrative kill).
//
// Limits: the table holds at most [Session] Maximum sessions, and one
// account at most [Session] MaximumPerUser of them, so that one account
// (whoever knows its password) cannot fill the table and lock every other
// user out. A session for an account that has reached its limit ends the
// account's session idle for longest first; when all of them are in use
// the new one is refused.
//
// Holding: create() and the finds return a SessionHold, which counts as one
// holder of the session (its busy count) until it is released or used to
// kill the session; a held session is never destroyed. A deletion asked for
// while a session is held is retried when the last holder leaves; a session
// that stays held through 60 attempts is counted as stuck and hidden from
// find_by_user() (its user name becomes "*name*"), and still ends when its
// holders finally leave.
//
// The end of a session runs on the thread that decides it: it takes the
// session's request lock (so it waits for a running request), tidies the
// user's mail (accounts::UserRecord::end_session), logs "Session expired",
// then removes the
// session and deletes its temporary directory. Lock order: the table lock,
// then a session's request lock. The table lock is never held while the end
// of a session waits or works, and a session whose end has begun is no
// longer found, so no request can get hold of it again.
//
// What it does not do: logons and passwords (accounts), the shared memory
// itself (the engine maps it and passes the slots to publish()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/sessions/session.h"

namespace corvane::log {
class Logger;
class RequestLog;
}  // namespace corvane::log

namespace corvane::accounts {
class UserRecord;
}

namespace corvane::sessions {

// Attempts after which a busy session is counted as stuck.
constexpr int stuck_attempts = 60;
// Compared by find_by_user(): the first 16 characters of a user name.
constexpr std::size_t user_name_match_length = 16;

// Settings the table reads at each use, so a change to the file applies at
// once ([Session], [UserLimits], [Directories] TempDir).
struct SessionSettings {
    int maximum = 200;
    // Sessions one account may hold at once; 0 or less: no limit of its own.
    int maximum_per_user = 10;
    std::int64_t expire_minutes = 20;
    std::int64_t compose_expire_minutes = 120;
    std::int64_t max_dir_size_kb = 0;
    std::int64_t max_messages = 0;
    std::string temp_dir;
};

// Loads the user record of a new session; null when the name cannot be an
// account or the account cannot be used (the reason logged to log).
using UserLoader = std::function<std::unique_ptr<accounts::UserRecord>(std::string_view name, log::Logger& log)>;

// Places the welcome message into the inbox of a new account: the first
// session of an account whose User.ini asks for it ([User] SendWelcome).
class WelcomeMessage {
public:
    virtual ~WelcomeMessage() = default;
    // True when it was placed (then SendWelcome is removed). Runs under the
    // session's request lock.
    virtual bool place(accounts::UserRecord& user, log::Logger& log) = 0;
};

// Why create() made no session.
enum class Refusal {
    none,
    table_full,    // [Session] Maximum sessions are live
    account_full,  // the account holds its limit of sessions, all of them in use
    no_user,       // the user record cannot be loaded
};

class SessionTable;

// One hold on a session; released when it goes out of scope.
class SessionHold {
public:
    SessionHold() = default;
    SessionHold(SessionHold&& other) noexcept;
    SessionHold& operator=(SessionHold&& other) noexcept;
    SessionHold(const SessionHold&) = delete;
    SessionHold& operator=(const SessionHold&) = delete;
    ~SessionHold() { release(); }

    Session* get() const { return m_session; }
    Session* operator->() const { return m_session; }
    Session& operator*() const { return *m_session; }
    explicit operator bool() const { return m_session != nullptr; }

    // The normal end of a request: gives the hold back; when a deletion was
    // asked for meanwhile and this was the last hold, the session ends here
    // (its lines go to log, or to a fresh buffer on the engine log).
    void release(log::RequestLog* log = nullptr);
    // Gives the hold back and ends the session (logout, a new logon of the
    // same user, an administrative kill). True when it ended; false when
    // others still hold it (it ends when the last of them leaves).
    bool kill(log::RequestLog* log = nullptr);
    // Gives the hold back without looking at pending deletions (a request
    // answered with a redirect while a mail check holds the session).
    void give_back();

private:
    friend class SessionTable;
    SessionHold(SessionTable* table, Session* session) : m_table(table), m_session(session) {}
    SessionTable* m_table = nullptr;
    Session* m_session = nullptr;
};

class SessionTable {
public:
    struct Options {
        // The engine log; the table's own work writes through fresh buffers.
        log::Logger* log = nullptr;
        // Shared slots mapped at start-up: never more sessions than this.
        std::size_t slot_capacity = 200;
        std::function<SessionSettings()> settings;
        UserLoader load_user;
        // May be null: no welcome message is placed.
        WelcomeMessage* welcome = nullptr;
        // A session stayed busy through stuck_attempts deletion attempts.
        std::function<void()> count_stuck;
    };

    explicit SessionTable(Options options);
    // Destroys every remaining session without the work on the user's mail
    // (engine shut-down); their temporary directories are deleted.
    ~SessionTable();
    SessionTable(const SessionTable&) = delete;
    SessionTable& operator=(const SessionTable&) = delete;

    // A new session for a user from a client address, made for use, held;
    // empty when the table is full, the account holds its limit of sessions
    // and none of them is idle, or the user record cannot be loaded (the
    // reason in refusal). Loading the user, the welcome message and the
    // sessions ended to make room log to log.
    SessionHold create(std::string_view user_name, std::string_view client_address, log::Logger& log,
                       SessionUse use = SessionUse::browser, Refusal* refusal = nullptr);
    // The session with exactly this id, held; empty when there is none.
    SessionHold find_by_id(std::string_view id);
    // The first session whose user name equals name in its first 16
    // characters, without regard to case; held.
    SessionHold find_by_user(std::string_view name);
    // The first session of the account name (the whole name, without regard
    // to case) that was made for use; held.
    SessionHold find_by_user(std::string_view name, SessionUse use);
    // An administrative kill: finds and kills. False when there is no such
    // session or it is still held (then it ends with its last holder).
    bool delete_by_id(std::string_view id, log::RequestLog& log);

    // A request of the session: last access = now, and [Stats] LastAccess
    // in the user's User.ini.
    void touch(Session& session);

    // One maintenance round's expiry: ends every session idle for longer
    // than ExpireTime minutes (ComposeExpireTime while it is on a compose
    // view). Its lines reach the engine log as one block.
    void expire_idle();

    // Writes slot i for session i into slots (slot_count slots of slot_size
    // bytes) and returns the number of sessions in the table.
    std::size_t publish(unsigned char* slots, std::size_t slot_count) const;

    std::size_t count() const;

private:
    friend class SessionHold;

    void release(Session* session, log::RequestLog* log);
    bool kill(Session* session, log::RequestLog* log);
    void give_back(Session* session);

    // Counts an attempt; true when the session's end may begin, which the
    // caller then runs with end_session() after leaving the table lock.
    bool begin_deletion_locked(Session* session, log::Logger& log);
    // Ends the account's sessions idle for longest until it holds fewer
    // than limit; false when that cannot be done (they are all in use).
    bool make_room(const std::string& account, std::size_t limit, log::Logger& log);
    std::size_t sessions_of_locked(const std::string& account) const;
    void end_session(Session* session, log::RequestLog& log);
    void tidy_mail(Session& session, log::Logger& log);
    std::unique_ptr<Session> remove(Session* session);
    Session* find_id_locked(std::string_view id) const;
    SessionSettings settings() const;

    Options m_options;
    mutable std::mutex m_mutex;  // the table lock
    std::vector<std::unique_ptr<Session>> m_sessions;
};

}  // namespace corvane::sessions
