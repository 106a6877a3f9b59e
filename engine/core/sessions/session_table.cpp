#include "engine/core/sessions/session_table.h"

#include <algorithm>
#include <limits>

#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/log/log_texts.h"
#include "common/log/logged_text.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"
#include "engine/core/accounts/account_names.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/sessions/shared_slots.h"

namespace corvane::sessions {

namespace fs = corvane::platform;

// ---- SessionHold -------------------------------------------------------------

SessionHold::SessionHold(SessionHold&& other) noexcept
    : m_table(std::exchange(other.m_table, nullptr)), m_session(std::exchange(other.m_session, nullptr))
{
}

SessionHold& SessionHold::operator=(SessionHold&& other) noexcept
{
    if (this != &other) {
        release();
        m_table = std::exchange(other.m_table, nullptr);
        m_session = std::exchange(other.m_session, nullptr);
    }
    return *this;
}

void SessionHold::release(log::RequestLog* log)
{
    if (Session* session = std::exchange(m_session, nullptr))
        m_table->release(session, log);
}

bool SessionHold::kill(log::RequestLog* log)
{
    if (Session* session = std::exchange(m_session, nullptr))
        return m_table->kill(session, log);
    return false;
}

void SessionHold::give_back()
{
    if (Session* session = std::exchange(m_session, nullptr))
        m_table->give_back(session);
}

// ---- SessionTable ------------------------------------------------------------

SessionTable::SessionTable(Options options) : m_options(std::move(options)) {}

SessionTable::~SessionTable()
{
    std::vector<std::unique_ptr<Session>> sessions;
    {
        std::lock_guard lock(m_mutex);
        sessions.swap(m_sessions);
    }
    // Destroying them deletes their directories and releases the users.
}

SessionSettings SessionTable::settings() const
{
    return m_options.settings ? m_options.settings() : SessionSettings{};
}

std::size_t SessionTable::count() const
{
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

Session* SessionTable::find_id_locked(std::string_view id) const
{
    for (const auto& session : m_sessions) {
        if (session->m_id == id)
            return session.get();
    }
    return nullptr;
}

SessionHold SessionTable::create(std::string_view user_name, std::string_view client_address, log::Logger& log,
                                 SessionUse use, Refusal* refusal)
{
    Refusal ignored = Refusal::none;
    Refusal& why = refusal ? *refusal : ignored;
    why = Refusal::none;
    SessionSettings limits = settings();
    std::size_t maximum = static_cast<std::size_t>(std::max(limits.maximum, 0));
    maximum = std::min(maximum, m_options.slot_capacity);
    std::size_t per_account = limits.maximum_per_user > 0 ? static_cast<std::size_t>(limits.maximum_per_user)
                                                          : std::numeric_limits<std::size_t>::max();
    std::string account = accounts::cut_user_name(user_name);
    {
        std::lock_guard lock(m_mutex);
        if (m_sessions.size() >= maximum) {
            why = Refusal::table_full;
            return {};
        }
    }
    // The user's files are read outside the table lock, so a slow disk does
    // not hold up every other request; the limits are checked again below.
    std::unique_ptr<accounts::UserRecord> user = m_options.load_user ? m_options.load_user(user_name, log) : nullptr;
    if (!user) {
        why = Refusal::no_user;
        return {};
    }

    Session* session = nullptr;
    // Other requests of the same account may take the room made here before
    // this one does; a few rounds settle that, and a flood of them is refused.
    constexpr int rounds = 3;
    for (int round = 0; round < rounds && !session; ++round) {
        if (!make_room(account, per_account, log)) {
            why = Refusal::account_full;
            return {};
        }
        std::lock_guard lock(m_mutex);
        if (m_sessions.size() >= maximum) {
            why = Refusal::table_full;
            return {};
        }
        if (sessions_of_locked(account) >= per_account)
            continue;
        // Ids are random; a clash with a live session is rare but would hand
        // one user's session to another, so it is ruled out.
        std::string id = make_session_id();
        while (find_id_locked(id))
            id = make_session_id();
        std::string temp_dir = fs::join_path(limits.temp_dir, id);
        m_sessions.push_back(std::unique_ptr<Session>(
            new Session(std::move(id), client_address, std::move(user), std::move(temp_dir), use)));
        session = m_sessions.back().get();
        session->set_last_access(fs::now());
        session->m_busy.fetch_add(1);
    }
    if (!session) {
        why = Refusal::account_full;
        return {};
    }

    if (!fs::make_directory(session->temp_dir(), 0700))
        log.line(log::Level::error, "Could not create directory %s", session->temp_dir().c_str());

    accounts::UserRecord* record = session->user();
    ini::Profile user_ini(record->ini_path());
    if (user_ini.yes_no("User", "SendWelcome", false)) {
        std::lock_guard request(session->request_lock());
        if (m_options.welcome && m_options.welcome->place(*record, log))
            (void)user_ini.delete_key("User", "SendWelcome");
    }
    return SessionHold(this, session);
}

namespace {

// The account a session belongs to: its user record's name (a stuck
// session's shown name is "*name*", but it still counts for the account).
bool of_account(const Session& session, std::string_view account)
{
    const accounts::UserRecord* user = session.user();
    return user && text::iequals(user->name(), account);
}

}  // namespace

std::size_t SessionTable::sessions_of_locked(const std::string& account) const
{
    std::size_t n = 0;
    for (const auto& session : m_sessions) {
        if (!session->m_deleting && of_account(*session, account))
            ++n;
    }
    return n;
}

bool SessionTable::make_room(const std::string& account, std::size_t limit, log::Logger& log)
{
    for (;;) {
        Session* oldest = nullptr;
        log::RequestLog ending(m_options.log);
        {
            std::lock_guard lock(m_mutex);
            std::size_t n = 0;
            for (const auto& session : m_sessions) {
                if (session->m_deleting || !of_account(*session, account))
                    continue;
                ++n;
                if (session->m_busy.load() == 0 && (!oldest || session->last_access() < oldest->last_access()))
                    oldest = session.get();
            }
            if (n < limit)
                return true;
            if (!oldest || !begin_deletion_locked(oldest, ending))
                return false;
        }
        log.line(log::Level::notable, "Session %s of %s ended: the account holds %zu sessions", oldest->id().c_str(),
                 log::logged_name(account).c_str(), limit);
        // Its end goes to a buffer of its own: this request's lines carry
        // another session's prefix.
        end_session(oldest, ending);
    }
}

SessionHold SessionTable::find_by_id(std::string_view id)
{
    std::lock_guard lock(m_mutex);
    Session* session = find_id_locked(id);
    if (!session || session->m_deleting)
        return {};
    session->m_busy.fetch_add(1);
    return SessionHold(this, session);
}

SessionHold SessionTable::find_by_user(std::string_view name)
{
    std::string_view wanted = name.substr(0, std::min(name.size(), user_name_match_length));
    std::lock_guard lock(m_mutex);
    for (const auto& session : m_sessions) {
        if (session->m_deleting)
            continue;
        std::string user_name = session->user_name();
        std::string_view have(user_name);
        have = have.substr(0, std::min(have.size(), user_name_match_length));
        if (text::iequals(have, wanted)) {
            session->m_busy.fetch_add(1);
            return SessionHold(this, session.get());
        }
    }
    return {};
}

SessionHold SessionTable::find_by_user(std::string_view name, SessionUse use)
{
    std::string account = accounts::cut_user_name(name);
    std::lock_guard lock(m_mutex);
    for (const auto& session : m_sessions) {
        if (!session->m_deleting && session->use() == use && of_account(*session, account)) {
            session->m_busy.fetch_add(1);
            return SessionHold(this, session.get());
        }
    }
    return {};
}

void SessionTable::give_back(Session* session)
{
    std::lock_guard lock(m_mutex);
    session->m_busy.fetch_sub(1);
}

void SessionTable::release(Session* session, log::RequestLog* log)
{
    log::RequestLog fresh(m_options.log);
    log::RequestLog& out = log ? *log : fresh;
    {
        std::lock_guard lock(m_mutex);
        int busy = session->m_busy.fetch_sub(1) - 1;
        if (session->m_delete_attempts.load() == 0 || busy != 0)
            return;
        if (!begin_deletion_locked(session, out))
            return;
    }
    end_session(session, out);
}

bool SessionTable::kill(Session* session, log::RequestLog* log)
{
    log::RequestLog fresh(m_options.log);
    log::RequestLog& out = log ? *log : fresh;
    {
        std::lock_guard lock(m_mutex);
        session->m_busy.fetch_sub(1);
        if (!begin_deletion_locked(session, out))
            return false;
    }
    end_session(session, out);
    return true;
}

bool SessionTable::delete_by_id(std::string_view id, log::RequestLog& log)
{
    SessionHold hold = find_by_id(id);
    if (!hold) {
        log.line(log::Level::routine, "Session %s not found.", text::without_controls(id).c_str());
        return false;
    }
    return hold.kill(&log);
}

bool SessionTable::begin_deletion_locked(Session* session, log::Logger& log)
{
    // Its end is already under way on another thread.
    if (session->m_deleting)
        return false;
    int attempts = session->m_delete_attempts.fetch_add(1) + 1;
    int busy = session->m_busy.load();
    const char* id = session->m_id.c_str();
    if (busy > 0) {
        if (attempts < stuck_attempts) {
            log.line(log::Level::detail, log::texts::session_busy, id, busy);
        } else if (attempts == stuck_attempts) {
            if (m_options.count_stuck)
                m_options.count_stuck();
            log.line(log::Level::error, log::texts::session_stuck, id, busy);
            // The user's next logon must not find this session by name.
            std::lock_guard identity(session->m_identity_mutex);
            session->m_user_name = text::bounded("*" + session->m_user_name + "*", accounts::max_user_name);
        } else {
            session->m_delete_attempts.store(stuck_attempts);
        }
        return false;
    }
    log.line(log::Level::detail, log::texts::trying_to_delete_session, id);
    session->m_busy.fetch_add(1);
    session->m_deleting = true;
    return true;
}

void SessionTable::end_session(Session* session, log::RequestLog& log)
{
    {
        std::lock_guard request(session->request_lock());
        log.set_session(session->id());
        log.line(log::Level::detail, log::texts::expiring_session, session->id().c_str());
        if (session->user())
            tidy_mail(*session, log);
        log.line(log::Level::notable, log::texts::session_expired);
    }
    std::unique_ptr<Session> gone = remove(session);
    // Destroyed outside the table lock: deleting its directory and writing
    // the user's statistics need not hold up other requests.
    gone.reset();
}

void SessionTable::tidy_mail(Session& session, log::Logger& log)
{
    accounts::UserRecord& user = *session.user();
    // StatusCheck sessions only look: their end leaves the mail as it is.
    if (session.status_check()) {
        user.save_index(log);
        return;
    }
    SessionSettings limits = settings();
    user.end_session(accounts::MailLimits{limits.max_dir_size_kb, limits.max_messages}, log);
}

std::unique_ptr<Session> SessionTable::remove(Session* session)
{
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                           [session](const std::unique_ptr<Session>& s) { return s.get() == session; });
    if (it == m_sessions.end())
        return nullptr;
    std::unique_ptr<Session> gone = std::move(*it);
    m_sessions.erase(it);
    return gone;
}

void SessionTable::touch(Session& session)
{
    std::time_t now = fs::now();
    session.set_last_access(now);
    if (accounts::UserRecord* user = session.user())
        (void)user->write_last_access(now);
}

void SessionTable::expire_idle()
{
    log::RequestLog log(m_options.log);
    SessionSettings limits = settings();
    std::time_t now = fs::now();
    std::int64_t idle_limit = static_cast<std::int64_t>(now) - limits.expire_minutes * 60;
    std::int64_t compose_limit = static_cast<std::int64_t>(now) - limits.compose_expire_minutes * 60;
    std::vector<Session*> ending;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& session : m_sessions) {
            std::int64_t limit = is_compose_view(session->current_view()) ? compose_limit : idle_limit;
            if (session->last_access() < limit && begin_deletion_locked(session.get(), log))
                ending.push_back(session.get());
        }
    }
    // Each ending session is ours alone now (marked, held once by us), so
    // the table lock is not needed while it waits for its request lock.
    for (Session* session : ending)
        end_session(session, log);
}

std::size_t SessionTable::publish(unsigned char* slots, std::size_t slot_count) const
{
    std::lock_guard lock(m_mutex);
    std::size_t n = std::min(m_sessions.size(), slot_count);
    for (std::size_t i = 0; i < n; ++i) {
        const Session& session = *m_sessions[i];
        SlotContents contents;
        contents.id = session.id();
        contents.address = session.client_address();
        contents.last_access = static_cast<std::int32_t>(session.last_access());
        {
            std::lock_guard identity(session.m_identity_mutex);
            contents.user_name = session.m_user_name;
            contents.full_name = session.m_full_name;
            contents.email = session.m_email;
        }
        write_slot(slots + i * slot_size, contents);
    }
    return m_sessions.size();
}

}  // namespace corvane::sessions
