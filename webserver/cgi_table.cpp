#include "webserver/cgi_table.h"

#include <cerrno>
#include <memory>

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::webserver {

namespace {

std::string_view extension_of(std::string_view file)
{
    auto dot = file.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : file.substr(dot);
}

}  // namespace

bool is_library_file(std::string_view file)
{
    auto ext = extension_of(file);
    return text::iequals(ext, ".so") || text::iequals(ext, ".dll");
}

bool is_program_file(std::string_view file)
{
    auto ext = extension_of(file);
    return text::iequals(ext, ".exe") || text::iequals(ext, ".cgi");
}

CgiTable::~CgiTable()
{
    // Libraries that were started are shut down by shut_down(); what is
    // left here is unloaded only.
    m_entries.clear();
}

std::size_t CgiTable::library_count() const
{
    std::size_t n = 0;
    for (const auto& e : m_entries)
        n += e->is_library() ? 1 : 0;
    return n;
}

bool CgiTable::load(const ServerConfig& config, codec::PasswordCodec& codec, log::Logger& log)
{
    m_entries.clear();
    const auto& profile = config.profile();
    const auto section = config.section();
    const auto& id = config.identity();
    log.line(log::Level::detail, "Loading CGIs...");

    for (int i = 1; i <= max_cgi_entries; ++i) {
        std::string base_key = text::format("CgiBase%d", i);
        std::string file_key = text::format("CgiFile%d", i);
        std::string auth_key = text::format("CgiAuth%d", i);
        // The user server hosts the engine beside the program unless told
        // otherwise; the administration server has no default CGI.
        bool defaulted = i == 1 && !id.default_cgi_file1.empty();
        std::string base =
            profile.text(section, base_key, defaulted ? id.default_cgi_base1 : std::string_view(), max_cgi_base);
        std::string file =
            profile.text(section, file_key, defaulted ? id.default_cgi_file1 : std::string_view(), max_cgi_file);
        if (base.empty() || file.empty() || file.find('.') == std::string::npos)
            continue;

        std::string auth = profile.text(section, auth_key, "");
        if (auto scrambled = codec::scramble_if_plain(codec, auth)) {
            if (scrambled->ok()) {
                auth = scrambled->value();
                profile.write_text(section, auth_key, auth);
            } else {
                log.line(log::Level::error, "Could not scramble %s: %s", auth_key.c_str(),
                         scrambled->error().text.c_str());
                auth.assign(1, '-');  // never unscrambles: the check fails closed
            }
        }

        // Relative names are relative to the program's directory (the
        // current one); a library must be named by path, or dlopen would
        // search the system's library directories instead.
        file = platform::absolute_path(file);
        if (!platform::is_regular_file(file)) {
            log.line(log::Level::notable, "Could not find %s", file.c_str());
            continue;
        }
        auto entry = std::make_unique<CgiEntry>();
        entry->index = i;
        entry->base_path = base;
        entry->file_path = file;
        entry->credentials = auth;
        if (is_library_file(file)) {
            auto library = platform::DynamicLibrary::open(file);
            MainFunction main = library ? library->function<MainFunction>("Main") : nullptr;
            if (!main) {
                int code = library ? ENOENT : library.error().code;
                log.line(log::Level::notable, "Could not load %s, error code %d", file.c_str(), code);
                if (!library)
                    log.line(log::Level::notable, "%s", library.error().text.c_str());
                continue;
            }
            entry->library = std::move(library.value());
            entry->main = main;
            entry->start_up = entry->library.function<StartUpFunction>("StartUp");
            entry->shut_down = entry->library.function<ShutDownFunction>("ShutDown");
            log.line(log::Level::detail, "%s loaded successfully", file.c_str());
        } else if (!is_program_file(file)) {
            log.line(log::Level::notable, "Don't know what to do with %s", file.c_str());
            continue;
        }
        m_entries.push_back(std::move(entry));
    }

    if (library_count() == 0)
        return true;
    log.line(log::Level::detail, "Telling CGI DLLs to start up...");
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const auto& e = *m_entries[i];
        if (!e.is_library() || !e.start_up || e.start_up() != 0)
            continue;
        log.line(log::Level::error, "%s could not start up", e.file_path.c_str());
        for (std::size_t j = 0; j < i; ++j) {
            if (m_entries[j]->shut_down)
                m_entries[j]->shut_down();
        }
        m_entries.clear();
        return false;
    }
    return true;
}

void CgiTable::shut_down(log::Logger& log)
{
    if (library_count() > 0) {
        log.line(log::Level::detail, "Telling CGI DLLs to shut down...");
        for (const auto& e : m_entries) {
            if (e->shut_down)
                e->shut_down();
        }
    }
    m_entries.clear();
}

std::optional<CgiMatch> CgiTable::find(std::string_view url_path) const
{
    for (const auto& e : m_entries) {
        std::size_t n = e->base_path.size();
        if (url_path.size() < n || !text::iequals(url_path.substr(0, n), e->base_path))
            continue;
        if (url_path.size() > n && url_path[n] != '/')
            continue;
        return CgiMatch{e.get(), std::string(url_path.substr(n))};
    }
    return std::nullopt;
}

}  // namespace corvane::webserver
