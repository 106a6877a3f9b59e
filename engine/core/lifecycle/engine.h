// The engine: the process-wide state of the Corvane library and its life
// cycle (StartUp, Main, ShutDown), the counters and the pending kill.
//
// One Engine per loaded library, reachable with engine(). Its parts exist
// while the engine runs (between a successful start_up() and shut_down()):
// the settings file, the log, the shared memory, the session table, the
// MIME type table and whatever later modules hang on it through the hooks
// (template store, directory and spelling libraries). start_up() and
// shut_down() never run together with main_entry(); main_entry() runs on
// many threads at once and does work only while running is set.
//
// Modules built on the engine plug in before start-up:
// - set_request_handler() (request.h): the dispatcher that answers requests;
// - set_hooks(): the start-up and shut-down steps they own.
// A ShutDown returns the library to the state before StartUp, so a host may
// start and stop it again.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/shared_memory.h"
#include "engine/core/lifecycle/request.h"
#include "engine/core/lifecycle/status.h"
#include "engine/core/sessions/session_table.h"
#include "engine/core/sessions/shared_slots.h"
#include "engine/store/mime_types/mime_type_table.h"

namespace corvane::lifecycle {

class Maintenance;

struct Engine {
    // Full path of Corvane.ini; set when the library is attached.
    std::string config_path;

    // ---- while running -------------------------------------------------------
    std::unique_ptr<ini::Profile> settings;
    std::unique_ptr<codec::PasswordCodec> codec;
    std::unique_ptr<log::LogFile> log;
    // Set when start-up completed; cleared first by shut-down and by the
    // maintenance thread when it ends.
    std::atomic<bool> running{false};
    StatusArea status;
    platform::SharedMemory session_slots;
    std::size_t slot_count = 0;
    std::unique_ptr<sessions::SessionTable> sessions;
    std::unique_ptr<mime_types::MimeTypeTable> mime_types;
    // Made by EngineHooks::create_template_store; the templates module
    // casts it back to its own type.
    std::shared_ptr<void> template_store;
    bool directory_library_loaded = false;
    bool spelling_library_loaded = false;
    std::shared_ptr<RequestHandler> handler;
    std::unique_ptr<Maintenance> maintenance;
};

Engine& engine();

// Start-up and shut-down steps owned by other modules. Each may be left
// empty: then the step does what it does when its file or library is
// missing.
struct EngineHooks {
    // Languages.ini exists in TemplateDir: check it against the templates.
    std::function<void(Engine&, const std::string& languages_ini)> verify_languages;
    // The (empty) template store; template sets load per language later.
    std::function<std::shared_ptr<void>(Engine&)> create_template_store;
    // The directory (LDAP) client library: true when loaded.
    std::function<bool(Engine&)> load_directory_library;
    std::function<void(Engine&)> unload_directory_library;
    // The spelling library: true when loaded.
    std::function<bool(Engine&)> load_spelling_library;
    std::function<void(Engine&)> unload_spelling_library;
    // The user record of a new session; by default the minimal record read
    // from User.ini (sessions::IniSessionUser).
    std::function<std::unique_ptr<sessions::SessionUser>(Engine&, std::string_view name, log::Logger& log)> load_user;
};
void set_hooks(EngineHooks hooks);

struct StartOptions {
    // Time between two maintenance rounds.
    std::chrono::milliseconds maintenance_period{5000};
};

// Library attach: where Corvane.ini is.
void set_config_path(std::string path);

// StartUp: true when the engine runs.
bool start_up(const StartOptions& options = {});
// ShutDown: stops everything start_up() began; always true.
bool shut_down();
// Main: takes both descriptors over (-1 for none) and closes them before it
// returns; answers the request when the engine runs, else writes nothing.
void main_entry(int input_fd, int output_fd, const char* environment);

// CVGetStatus: the 36-byte status record of the engine running on this
// machine (this process's, else another process's); zeros when none runs.
void get_status(void* out36);
// CVKillSession: hands a session id to the running engine's maintenance
// thread. Returns the pending count (1 when accepted); when a kill is still
// pending, that count, and the request is not taken. Never 0.
int kill_session(const char* session_id);

// The names of the two shared-memory segments for this process
// (CORVANE_INSTANCE applied).
std::string status_segment_name();
std::string sessions_segment_name();

}  // namespace corvane::lifecycle
