// The engine: the state of the Corvane library while it runs and its life
// cycle (StartUp, Main, ShutDown), the counters and the pending kill.
//
// One Engine per loaded library; the composition root (engine/library)
// makes it with the modules built above the life cycle (the request
// handler, the server deletion, the welcome message) and the C exports call
// it. Its parts exist while the engine runs, between a successful
// start_up() and shut_down(): the settings file, the password codec, the
// log, the shared memory, the template store, the directory (LDAP) client
// library, the MIME type table, the session table and the maintenance
// thread. start_up() builds them in the order the log shows; shut_down()
// releases them in the reverse order and returns the engine to the state
// before StartUp, so a host may start and stop it again.
//
// start_up() and shut_down() never run together with main_entry();
// main_entry() runs on many threads at once and does work only while the
// engine runs. The accessors of the parts are for code that runs while it
// does (requests, the maintenance thread).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/mime_types/mime_type_table.h"
#include "common/platform/shared_memory.h"
#include "engine/core/accounts/accounts_context.h"
#include "engine/core/accounts/directory_library.h"
#include "engine/core/lifecycle/request.h"
#include "engine/core/lifecycle/status.h"
#include "engine/core/sessions/session_table.h"
#include "engine/core/templates/template_store.h"

namespace corvane::accounts {
class ServerDeletion;
class UserRecord;
}  // namespace corvane::accounts

namespace corvane::lifecycle {

class Maintenance;
struct Directories;

// The modules built above the life cycle that the engine hands on: each
// may be null (then requests are accepted and closed unanswered, waiting
// messages stay on their servers, no welcome message is placed).
struct EngineModules {
    std::shared_ptr<RequestHandler> handler;
    accounts::ServerDeletion* server_deletion = nullptr;
    sessions::WelcomeMessage* welcome = nullptr;
};

// Whether start-up loads the client libraries found on the machine (the
// directory library); the life cycle's own tests start without them.
enum class Libraries { load, none };

struct StartOptions {
    // Time between two maintenance rounds.
    std::chrono::milliseconds maintenance_period{5000};
    Libraries libraries = Libraries::load;
};

class Engine {
public:
    // config_path: the full path of Corvane.ini.
    explicit Engine(std::string config_path, EngineModules modules = {});
    // Shuts down when still running.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // StartUp: true when the engine runs.
    bool start_up(const StartOptions& options = {});
    // ShutDown: stops everything start_up() began; always true.
    bool shut_down();
    // Main: takes both descriptors over (-1 for none) and closes them before
    // it returns; answers the request when the engine runs, else writes
    // nothing.
    void main_entry(int input_fd, int output_fd, const char* environment);

    // CVGetStatus: the 36-byte status record of the engine running on this
    // machine (this one's, else another process's); zeros when none runs.
    void get_status(void* out36);
    // CVKillSession: hands a session id to the running engine's maintenance
    // thread. Returns the pending count (1 when accepted); when a kill is
    // still pending, that count, and the request is not taken. Never 0.
    int kill_session(const char* session_id);

    const std::string& config_path() const { return m_config_path; }
    bool running() const { return m_running.load(); }

    // Adds to a counter of the status record (the mail sessions and their
    // failures); nothing happens while the engine has no status record.
    void count(StatusField field, std::int32_t amount = 1);

    // ---- while running -------------------------------------------------------
    const ini::Profile& settings() const { return *m_settings; }
    codec::PasswordCodec& codec() const { return *m_codec; }
    log::LogFile& log() const { return *m_log; }
    sessions::SessionTable& sessions() const { return *m_sessions; }
    templates::TemplateStore& templates() const { return *m_templates; }
    const mime_types::MimeTypeTable& mime_types() const { return *m_mime_types; }
    // Null when the directory library could not be loaded.
    const accounts::DirectoryLibrary* directory() const { return m_directory.get(); }
    std::size_t slot_count() const { return m_slot_count; }
    // What logon checks and user records need; log may be null.
    accounts::AccountsContext accounts(log::Logger* log) const;
    // The user record of a new session, with its mail; null when the name
    // cannot be an account (logged).
    std::unique_ptr<accounts::UserRecord> load_user(std::string_view name, log::Logger& log) const;

private:
    friend class Maintenance;

    void tear_down(bool log_steps);
    void empty_temp_dir(const Directories& dirs);
    void start_templates(const Directories& dirs);

    const std::string m_config_path;
    const EngineModules m_modules;

    // StartUp, ShutDown and the administrative exports take this lock; Main
    // counts itself in and out, so ShutDown can wait for requests still
    // running (the host should never overlap them, but a stray one must not
    // find the engine half torn down).
    std::mutex m_lifecycle_mutex;
    // Guards the status segment's mapping against the administrative
    // exports, which any thread may call at any time.
    std::mutex m_status_mutex;
    std::mutex m_requests_mutex;
    std::condition_variable m_requests_done;
    int m_requests = 0;

    // Set when start-up completed; cleared first by shut-down and by the
    // maintenance thread when it ends.
    std::atomic<bool> m_running{false};
    std::unique_ptr<ini::Profile> m_settings;
    std::unique_ptr<codec::PasswordCodec> m_codec;
    std::unique_ptr<log::LogFile> m_log;
    StatusArea m_status;
    platform::SharedMemory m_session_slots;
    std::size_t m_slot_count = 0;
    std::unique_ptr<templates::TemplateStore> m_templates;
    std::unique_ptr<accounts::DirectoryLibrary> m_directory;
    bool m_spelling_library_loaded = false;
    std::unique_ptr<mime_types::MimeTypeTable> m_mime_types;
    std::unique_ptr<sessions::SessionTable> m_sessions;
    std::shared_ptr<RequestHandler> m_handler;
    std::unique_ptr<Maintenance> m_maintenance;
};

// The names of the two shared-memory segments for this process
// (CORVANE_INSTANCE applied).
std::string status_segment_name();
std::string sessions_segment_name();

}  // namespace corvane::lifecycle
