#include "engine/core/lifecycle/engine.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/lifecycle/maintenance.h"
#include "engine/core/lifecycle/path_guard.h"
#include "engine/core/lifecycle/settings.h"

namespace corvane::lifecycle {

namespace fs = corvane::platform;

namespace {

// Limits on [Session] Maximum: the shared slots are sized from it once.
constexpr int max_sessions_limit = 100000;

// StartUp, ShutDown and the administrative exports take this lock; Main
// counts itself in and out, so ShutDown can wait for requests still running
// (the host should never overlap them, but a stray one must not find the
// engine half torn down).
std::mutex g_lifecycle_mutex;
// Guards the status segment's mapping against the administrative exports,
// which any thread may call at any time.
std::mutex g_status_mutex;
std::mutex g_requests_mutex;
std::condition_variable g_requests_done;
int g_requests = 0;

std::mutex g_hooks_mutex;

// Made on first use: the library's load-time constructor sets the hooks,
// and may run before this file's static objects are initialised.
EngineHooks& hooks_storage()
{
    static EngineHooks hooks;
    return hooks;
}

EngineHooks current_hooks()
{
    std::lock_guard lock(g_hooks_mutex);
    return hooks_storage();
}

sessions::SessionSettings read_session_settings(const ini::Profile& ini)
{
    sessions::SessionSettings s;
    s.maximum = number_setting(ini, "Session", "Maximum");
    s.expire_minutes = number_setting(ini, "Session", "ExpireTime");
    s.compose_expire_minutes = number_setting(ini, "Session", "ComposeExpireTime");
    s.max_dir_size_kb = number_setting(ini, "UserLimits", "MaxDirSize");
    s.max_messages = number_setting(ini, "UserLimits", "MaxMessages");
    s.temp_dir = text_setting(ini, "Directories", "TempDir");
    return s;
}

std::unique_ptr<sessions::SessionUser> load_minimal_user(Engine& engine, std::string_view name, log::Logger& log)
{
    const ini::Profile& ini = *engine.settings;
    sessions::UserDefaults defaults;
    defaults.language = text_setting(ini, "UserDefaults", "Lang");
    defaults.theme = text_setting(ini, "UserDefaults", "Theme");
    defaults.empty_trash = yes_no_setting(ini, "UserDefaults", "EmptyTrash");
    auto user = sessions::IniSessionUser::load(text_setting(ini, "Directories", "UserDir"), name, defaults);
    if (!user)
        log.line(log::Level::error, "Could not load the account of %s", text::without_controls(name).c_str());
    return user;
}

// Empties TempDir, unless a configuration mistake points it at a directory
// that holds the product's other files.
void empty_temp_dir(Engine& engine, const Directories& dirs)
{
    std::vector<std::string> protected_dirs = {
        fs::directory_of(engine.config_path), dirs.base, dirs.log, dirs.templates, dirs.users, dirs.spelling};
    if (contains_any(dirs.temp, protected_dirs)) {
        engine.log->line(log::Level::error, "Could not empty TempDir %s: it holds other directories of Corvane",
                         dirs.temp.c_str());
        return;
    }
    auto emptied = fs::delete_tree(dirs.temp);
    if (!emptied)
        engine.log->line(log::Level::error, "Could not empty TempDir: %s", emptied.error().text.c_str());
}

// Everything start_up() may have made, in the order of ShutDown; each step
// checks what exists, so a failed start-up is undone by the same code.
void tear_down(Engine& engine, const EngineHooks& hooks, bool log_steps)
{
    log::LogFile* log = log_steps ? engine.log.get() : nullptr;
    if (log)
        log->line(log::Level::detail, "Sending shutdown notice to maintenance thread.");
    if (engine.maintenance) {
        if (engine.maintenance->started() && log)
            log->line(log::Level::detail, "Waiting for maintenance thread to exit...");
        engine.maintenance->stop();
        engine.maintenance.reset();
    }
    {
        std::lock_guard status(g_status_mutex);
        if (engine.status.valid())
            engine.status.zero_record();
    }
    if (log)
        log->line(log::Level::detail, "Releasing shared memory...");
    {
        std::lock_guard status(g_status_mutex);
        engine.status.reset();
    }
    engine.session_slots.reset();
    engine.slot_count = 0;
    if (log)
        log->line(log::Level::detail, "Releasing LDAP DLL...");
    if (engine.directory_library_loaded && hooks.unload_directory_library)
        hooks.unload_directory_library(engine);
    engine.directory_library_loaded = false;
    if (log)
        log->line(log::Level::detail, "Releasing SpellCheck DLL...");
    if (engine.spelling_library_loaded && hooks.unload_spelling_library)
        hooks.unload_spelling_library(engine);
    engine.spelling_library_loaded = false;
    engine.template_store.reset();
    engine.mime_types.reset();
    engine.sessions.reset();
    engine.handler.reset();
    if (log)
        log->line(log::Level::lifecycle, "Corvane stopped.");
    engine.log.reset();
    engine.codec.reset();
    engine.settings.reset();
}

}  // namespace

Engine& engine()
{
    static Engine instance;
    return instance;
}

void set_hooks(EngineHooks hooks)
{
    std::lock_guard lock(g_hooks_mutex);
    hooks_storage() = std::move(hooks);
}

void set_config_path(std::string path)
{
    std::lock_guard lock(g_lifecycle_mutex);
    engine().config_path = std::move(path);
}

std::string status_segment_name()
{
    return fs::instance_name(status_segment_base);
}

std::string sessions_segment_name()
{
    return fs::instance_name(sessions_segment_base);
}

bool start_up(const StartOptions& options)
{
    std::lock_guard lifecycle(g_lifecycle_mutex);
    Engine& e = engine();
    if (e.running.load() || e.log)
        return e.running.load();
    EngineHooks hooks = current_hooks();

    e.settings = std::make_unique<ini::Profile>(e.config_path);
    e.codec = std::make_unique<codec::PasswordCodec>(codec::key_path_for(e.config_path));
    const ini::Profile& ini = *e.settings;
    Directories dirs = read_directories(ini);

    (void)fs::make_directories(dirs.log);
    log::LogSettings log_settings;
    log_settings.directory = dirs.log;
    log_settings.threshold = number_setting(ini, "General", "LogLevel");
    log_settings.rotation = log::rotation_from_text(ini.text("General", "LogRotation", "", 15));
    log_settings.size_limit_kb = number_setting(ini, "General", "MaxLogFileSize");
    e.log = std::make_unique<log::LogFile>(log_settings);
    log::LogFile& log = *e.log;
    log.line(log::Level::lifecycle, "Initializing Corvane...");
    (void)ini.write_text("Other", "LatestLogFile", log.current_path());

    (void)fs::make_directories(dirs.users);
    (void)fs::make_directories(dirs.temp);
    empty_temp_dir(e, dirs);

    log.line(log::Level::detail, "Initializing shared memory...");
    int maximum = number_setting(ini, "Session", "Maximum");
    // The slots are sized once; at least one, so the segment exists, and
    // bounded, so a typing mistake cannot ask for gigabytes.
    e.slot_count = static_cast<std::size_t>(std::clamp(maximum, 1, max_sessions_limit));
    auto slots = fs::SharedMemory::create_owned(sessions_segment_name(), e.slot_count * sessions::slot_size);
    auto status = slots ? StatusArea::create(status_segment_name()) : Result<StatusArea>(slots.error());
    if (!slots || !status) {
        int code = slots ? status.error().code : slots.error().code;
        log.line(log::Level::error, "Could not create shared memory, error code %d", code);
        e.slot_count = 0;
        tear_down(e, hooks, false);
        return false;
    }
    e.session_slots = std::move(*slots);
    {
        std::lock_guard status_lock(g_status_mutex);
        e.status = std::move(*status);
    }

    if (!fs::is_directory(dirs.templates))
        log.line(log::Level::error, "Could not find Templates directory!");
    if (auto languages = fs::resolve_nocase(dirs.templates, "Languages.ini")) {
        if (hooks.verify_languages)
            hooks.verify_languages(e, fs::join_path(dirs.templates, *languages));
    } else {
        log.line(log::Level::error, "Could not find Languages.ini!");
    }
    if (hooks.create_template_store)
        e.template_store = hooks.create_template_store(e);

    log.line(log::Level::detail, "Loading LDAP DLL (WLDAP32.DLL)...");
    e.directory_library_loaded = hooks.load_directory_library && hooks.load_directory_library(e);
    if (!e.directory_library_loaded)
        log.line(log::Level::error, "Could not load LDAP DLL!");
    log.line(log::Level::detail, "Loading SpellCheck DLL...");
    e.spelling_library_loaded = hooks.load_spelling_library && hooks.load_spelling_library(e);
    if (!e.spelling_library_loaded)
        log.line(log::Level::error, "Could not load SpellCheck DLL!");

    e.mime_types = std::make_unique<mime_types::MimeTypeTable>();
    if (!e.mime_types->load(fs::path_nocase(dirs.base, "MimeTypes.cfg")))
        log.line(log::Level::error, "Could not load MimeTypes.cfg!");

    (void)fs::touch_file(fs::path_nocase(dirs.base, "AddrBook.txt"));
    (void)fs::touch_file(fs::path_nocase(dirs.base, "Dictionary.txt"));

    sessions::SessionTable::Options table;
    table.log = e.log.get();
    table.slot_capacity = e.slot_count;
    table.settings = [&e] { return read_session_settings(*e.settings); };
    std::function<std::unique_ptr<sessions::SessionUser>(Engine&, std::string_view, log::Logger&)> load_user =
        load_minimal_user;
    if (hooks.load_user)
        load_user = hooks.load_user;
    table.load_user = [&e, load_user](std::string_view name, log::Logger& out) { return load_user(e, name, out); };
    table.count_stuck = [&e] { e.status.add(StatusField::engine_errors); };
    e.sessions = std::make_unique<sessions::SessionTable>(std::move(table));

    e.status.set(StatusField::start_time, static_cast<std::int32_t>(fs::now()));
    e.status.set(StatusField::sessions, 0);
    e.status.set(StatusField::engine_errors, 0);
    e.status.set(StatusField::maximum, maximum);
    e.status.set(StatusField::pop_sessions, 0);
    e.status.set(StatusField::pop_errors, 0);
    e.status.set(StatusField::smtp_sessions, 0);
    e.status.set(StatusField::smtp_errors, 0);

    normalise(ini, *e.codec, log);

    e.handler = request_handler();
    e.maintenance = std::make_unique<Maintenance>(e, options.maintenance_period);
    if (!e.maintenance->start()) {
        log.line(log::Level::error, "Could not start maintenance thread!");
        e.maintenance.reset();
        // The log stays open for ShutDown, which releases the rest.
        return false;
    }
    e.running.store(true);
    return true;
}

bool shut_down()
{
    std::lock_guard lifecycle(g_lifecycle_mutex);
    Engine& e = engine();
    e.running.store(false);
    {
        std::unique_lock lock(g_requests_mutex);
        g_requests_done.wait(lock, [] { return g_requests == 0; });
    }
    if (!e.log && !e.sessions)
        return true;  // never started, or start-up failed and cleaned up
    tear_down(e, current_hooks(), true);
    return true;
}

void main_entry(int input_fd, int output_fd, const char* environment)
{
    // Both descriptors are ours from here on, whatever happens.
    fs::UniqueFd input(input_fd);
    fs::UniqueFd output(output_fd);
    Engine& e = engine();
    {
        std::lock_guard lock(g_requests_mutex);
        ++g_requests;
    }
    if (e.running.load()) {
        try {
            Request request{e, std::move(input), std::move(output), Environment(environment)};
            e.handler->handle(request);
        } catch (...) {
            // Nothing may cross into the host; the descriptors close with the request.
        }
    }
    std::lock_guard lock(g_requests_mutex);
    if (--g_requests == 0)
        g_requests_done.notify_all();
}

void get_status(void* out36)
{
    if (!out36)
        return;
    {
        std::lock_guard status(g_status_mutex);
        Engine& e = engine();
        if (e.status.valid()) {
            e.status.copy_record(out36);
            return;
        }
    }
    auto other = StatusArea::open_running(status_segment_name(), platform::SharedMemory::Access::read_only);
    if (other)
        other->copy_record(out36);
    else
        std::memset(out36, 0, status_record_size);
}

int kill_session(const char* session_id)
{
    std::string_view id = session_id ? std::string_view(session_id) : std::string_view();
    {
        std::lock_guard status(g_status_mutex);
        Engine& e = engine();
        if (e.status.valid())
            return e.status.request_kill(id);
    }
    auto other = StatusArea::open_running(status_segment_name(), platform::SharedMemory::Access::read_write);
    // With no engine running there is nothing to end; the count is never 0.
    return other ? other->request_kill(id) : 1;
}

}  // namespace corvane::lifecycle
