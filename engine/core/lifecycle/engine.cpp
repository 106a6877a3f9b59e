#include "engine/core/lifecycle/engine.h"

#include <algorithm>
#include <cstring>

#include "common/log/log_texts.h"
#include "common/log/logged_text.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/lifecycle/maintenance.h"
#include "engine/core/lifecycle/path_guard.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/sessions/shared_slots.h"
#include "engine/core/templates/languages.h"

namespace corvane::lifecycle {

namespace fs = corvane::platform;

namespace {

// Limits on [Session] Maximum: the shared slots are sized from it once.
constexpr int max_sessions_limit = 100000;

// Language strings 1 to 4: Inbox, drafts, sent mail, Trash.
constexpr int first_folder_string = 1;
constexpr int fixed_folder_count = 4;

sessions::SessionSettings read_session_settings(const ini::Profile& ini)
{
    sessions::SessionSettings s;
    s.maximum = number_setting(ini, "Session", "Maximum");
    s.maximum_per_user = number_setting(ini, "Session", "MaximumPerUser");
    s.expire_minutes = number_setting(ini, "Session", "ExpireTime");
    s.compose_expire_minutes = number_setting(ini, "Session", "ComposeExpireTime");
    s.max_dir_size_kb = number_setting(ini, "UserLimits", "MaxDirSize");
    s.max_messages = number_setting(ini, "UserLimits", "MaxMessages");
    s.temp_dir = text_setting(ini, "Directories", "TempDir");
    return s;
}

}  // namespace

Engine::Engine(std::string config_path, EngineModules modules)
    : m_config_path(std::move(config_path)), m_modules(std::move(modules))
{
}

Engine::~Engine()
{
    shut_down();
}

std::string status_segment_name()
{
    return fs::instance_name(status_segment_base);
}

std::string sessions_segment_name()
{
    return fs::instance_name(sessions_segment_base);
}

accounts::AccountsContext Engine::accounts(log::Logger* log) const
{
    accounts::AccountsContext context;
    context.settings = m_settings.get();
    context.user_dir = m_settings ? text_setting(*m_settings, "Directories", "UserDir") : "";
    context.codec = m_codec.get();
    context.log = log;
    context.directory = m_directory.get();
    // Records live in sessions, which end before the template store and
    // the MIME type table go.
    templates::TemplateStore* store = m_templates.get();
    log::LogFile* engine_log = m_log.get();
    context.fixed_folders = [store, engine_log](std::string_view language) {
        std::vector<std::string> names;
        if (!store)
            return names;
        log::RequestLog out(engine_log);
        for (int i = 0; i < fixed_folder_count; ++i)
            names.push_back(store->language_string(first_folder_string + i, language, out));
        return names;
    };
    context.mime_types = m_mime_types.get();
    context.server_deletion = m_modules.server_deletion;
    return context;
}

std::unique_ptr<accounts::UserRecord> Engine::load_user(std::string_view name, log::Logger& log) const
{
    auto record = accounts::UserRecord::load(accounts(&log), name);
    if (!record) {
        log.line(log::Level::error, "Could not load the account of %s: %s", log::logged_name(name).c_str(),
                 record.error().text.c_str());
        return nullptr;
    }
    accounts::UserRecord& user = **record;
    if (user.mail().folders().empty())
        log.line(log::Level::error, "The folders of %s cannot be listed: the language %s names no usable fixed folders",
                 user.name().c_str(), user.settings().language.c_str());
    return std::move(*record);
}

// Empties TempDir, unless a configuration mistake points it at a directory
// that holds the product's other files.
void Engine::empty_temp_dir(const Directories& dirs)
{
    std::vector<std::string> protected_dirs = {
        fs::directory_of(m_config_path), dirs.base, dirs.log, dirs.templates, dirs.users, dirs.spelling};
    if (contains_any(dirs.temp, protected_dirs)) {
        m_log->line(log::Level::error, "Could not empty TempDir %s: it holds other directories of Corvane",
                    dirs.temp.c_str());
        return;
    }
    auto emptied = fs::delete_tree(dirs.temp);
    if (!emptied)
        m_log->line(log::Level::error, "Could not empty TempDir: %s", emptied.error().text.c_str());
}

// Languages.ini is checked against the templates before the (empty) store
// is made; template sets load per language later.
void Engine::start_templates(const Directories& dirs)
{
    if (!fs::is_directory(dirs.templates))
        m_log->line(log::Level::error, log::texts::no_template_dir);
    if (auto languages = fs::resolve_nocase(dirs.templates, "Languages.ini")) {
        bool english_translation = m_settings->yes_no("Special", "EnglishTranslation", false);
        templates::verify_languages(dirs.templates, english_translation, *m_log);
    } else {
        m_log->line(log::Level::error, log::texts::no_languages_ini);
    }
    m_templates = std::make_unique<templates::TemplateStore>(dirs.templates);
}

// Everything start_up() may have made, in the order of ShutDown; each step
// checks what exists, so a failed start-up is undone by the same code.
void Engine::tear_down(bool log_steps)
{
    log::LogFile* log = log_steps ? m_log.get() : nullptr;
    if (log)
        log->line(log::Level::detail, log::texts::maintenance_notice_sent);
    if (m_maintenance) {
        if (m_maintenance->started() && log)
            log->line(log::Level::detail, log::texts::maintenance_waiting);
        m_maintenance->stop();
        m_maintenance.reset();
    }
    {
        std::lock_guard status(m_status_mutex);
        if (m_status.valid())
            m_status.zero_record();
    }
    if (log)
        log->line(log::Level::detail, log::texts::releasing_shared_memory);
    {
        std::lock_guard status(m_status_mutex);
        m_status.reset();
    }
    m_session_slots.reset();
    m_slot_count = 0;
    // The sessions' user records use the parts below while they live.
    m_sessions.reset();
    if (log)
        log->line(log::Level::detail, log::texts::releasing_directory_library);
    m_directory.reset();
    if (log)
        log->line(log::Level::detail, log::texts::releasing_spelling_library);
    m_spelling_library_loaded = false;
    m_templates.reset();
    m_mime_types.reset();
    m_handler.reset();
    if (log)
        log->line(log::Level::lifecycle, log::texts::stopped);
    m_log.reset();
    m_codec.reset();
    m_settings.reset();
}

bool Engine::start_up(const StartOptions& options)
{
    std::lock_guard lifecycle(m_lifecycle_mutex);
    if (m_running.load() || m_log)
        return m_running.load();

    m_settings = std::make_unique<ini::Profile>(m_config_path);
    m_codec = std::make_unique<codec::PasswordCodec>(codec::key_path_for(m_config_path));
    const ini::Profile& ini = *m_settings;
    Directories dirs = read_directories(ini);

    (void)fs::make_directories(dirs.log);
    log::LogSettings log_settings;
    log_settings.directory = dirs.log;
    log_settings.threshold = number_setting(ini, "General", "LogLevel");
    log_settings.rotation = log::rotation_from_text(ini.text("General", "LogRotation", "", 15));
    log_settings.size_limit_kb = number_setting(ini, "General", "MaxLogFileSize");
    m_log = std::make_unique<log::LogFile>(log_settings);
    log::LogFile& log = *m_log;
    log.line(log::Level::lifecycle, log::texts::initializing);
    (void)ini.write_text("Other", "LatestLogFile", log.current_path());

    (void)fs::make_directories(dirs.users);
    (void)fs::make_directories(dirs.temp);
    empty_temp_dir(dirs);

    log.line(log::Level::detail, log::texts::initializing_shared_memory);
    int maximum = number_setting(ini, "Session", "Maximum");
    // The slots are sized once; at least one, so the segment exists, and
    // bounded, so a typing mistake cannot ask for gigabytes.
    m_slot_count = static_cast<std::size_t>(std::clamp(maximum, 1, max_sessions_limit));
    auto slots = fs::SharedMemory::create_owned(sessions_segment_name(), m_slot_count * sessions::slot_size);
    auto status = slots ? StatusArea::create(status_segment_name()) : Result<StatusArea>(slots.error());
    if (!slots || !status) {
        int code = slots ? status.error().code : slots.error().code;
        log.line(log::Level::error, log::texts::no_shared_memory, code);
        m_slot_count = 0;
        tear_down(false);
        return false;
    }
    m_session_slots = std::move(*slots);
    {
        std::lock_guard status_lock(m_status_mutex);
        m_status = std::move(*status);
    }

    start_templates(dirs);

    log.line(log::Level::detail, log::texts::loading_directory_library);
    if (options.libraries == Libraries::load) {
        auto library = accounts::DirectoryLibrary::load();
        if (library) {
            m_directory = std::move(*library);
            log.line(log::Level::detail, "LDAP client library %s loaded", m_directory->path().c_str());
        } else {
            log.line(log::Level::detail, "LDAP client library: %s", library.error().text.c_str());
        }
    }
    if (!m_directory)
        log.line(log::Level::error, log::texts::no_directory_library);
    // The spelling library is not built yet: the engine runs without
    // spelling, as it does when the library is missing.
    log.line(log::Level::detail, log::texts::loading_spelling_library);
    if (!m_spelling_library_loaded)
        log.line(log::Level::error, log::texts::no_spelling_library);

    m_mime_types = std::make_unique<mime_types::MimeTypeTable>();
    if (!m_mime_types->load(fs::path_nocase(dirs.base, "MimeTypes.cfg")))
        log.line(log::Level::error, log::texts::no_mime_types);

    (void)fs::touch_file(fs::path_nocase(dirs.base, "AddrBook.txt"));
    (void)fs::touch_file(fs::path_nocase(dirs.base, "Dictionary.txt"));

    sessions::SessionTable::Options table;
    table.log = m_log.get();
    table.slot_capacity = m_slot_count;
    table.settings = [this] { return read_session_settings(*m_settings); };
    table.load_user = [this](std::string_view name, log::Logger& out) { return load_user(name, out); };
    table.welcome = m_modules.welcome;
    table.count_stuck = [this] { m_status.add(StatusField::engine_errors); };
    m_sessions = std::make_unique<sessions::SessionTable>(std::move(table));

    m_status.set(StatusField::start_time, static_cast<std::int32_t>(fs::now()));
    m_status.set(StatusField::sessions, 0);
    m_status.set(StatusField::engine_errors, 0);
    m_status.set(StatusField::maximum, maximum);
    m_status.set(StatusField::pop_sessions, 0);
    m_status.set(StatusField::pop_errors, 0);
    m_status.set(StatusField::smtp_sessions, 0);
    m_status.set(StatusField::smtp_errors, 0);

    normalise(ini, *m_codec, log);

    m_handler = m_modules.handler;
    m_maintenance = std::make_unique<Maintenance>(*this, options.maintenance_period);
    if (!m_maintenance->start()) {
        log.line(log::Level::error, log::texts::no_maintenance_thread);
        m_maintenance.reset();
        // The log stays open for ShutDown, which releases the rest.
        return false;
    }
    m_running.store(true);
    return true;
}

bool Engine::shut_down()
{
    std::lock_guard lifecycle(m_lifecycle_mutex);
    m_running.store(false);
    {
        std::unique_lock lock(m_requests_mutex);
        m_requests_done.wait(lock, [this] { return m_requests == 0; });
    }
    if (!m_log && !m_sessions)
        return true;  // never started, or start-up failed and cleaned up
    tear_down(true);
    return true;
}

void Engine::main_entry(int input_fd, int output_fd, const char* environment)
{
    // Both descriptors are ours from here on, whatever happens.
    fs::UniqueFd input(input_fd);
    fs::UniqueFd output(output_fd);
    {
        std::lock_guard lock(m_requests_mutex);
        ++m_requests;
    }
    if (m_running.load() && m_handler) {
        try {
            // Corvane.ini is checked on disk once per request, not per key.
            ini::ReadScope settings_once(m_settings->path());
            Request request{*this, std::move(input), std::move(output), Environment(environment)};
            m_handler->handle(request);
        } catch (...) {
            // Nothing may cross into the host; the descriptors close with the request.
        }
    }
    std::lock_guard lock(m_requests_mutex);
    if (--m_requests == 0)
        m_requests_done.notify_all();
}

void Engine::count(StatusField field, std::int32_t amount)
{
    std::lock_guard status(m_status_mutex);
    if (m_status.valid())
        m_status.add(field, amount);
}

void Engine::get_status(void* out36)
{
    if (!out36)
        return;
    {
        std::lock_guard status(m_status_mutex);
        if (m_status.valid()) {
            m_status.copy_record(out36);
            return;
        }
    }
    auto other = StatusArea::open_running(status_segment_name(), platform::SharedMemory::Access::read_only);
    if (other)
        other->copy_record(out36);
    else
        std::memset(out36, 0, status_record_size);
}

int Engine::kill_session(const char* session_id)
{
    std::string_view id = session_id ? std::string_view(session_id) : std::string_view();
    {
        std::lock_guard status(m_status_mutex);
        if (m_status.valid())
            return m_status.request_kill(id);
    }
    auto other = StatusArea::open_running(status_segment_name(), platform::SharedMemory::Access::read_write);
    // With no engine running there is nothing to end; the count is never 0.
    return other ? other->request_kill(id) : 1;
}

}  // namespace corvane::lifecycle
