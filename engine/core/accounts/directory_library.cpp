#include "engine/core/accounts/directory_library.h"

// Only the constants and types come from the header; nothing is linked.
#include <ldap.h>
#include <sys/time.h>

#include <utility>

namespace corvane::accounts {

namespace {

template <typename F>
bool bind_entry(const platform::DynamicLibrary& library, const char* name, F& out, std::string& missing)
{
    out = library.function<F>(name);
    if (!out) {
        if (!missing.empty())
            missing += ", ";
        missing += name;
    }
    return out != nullptr;
}

int client_wait(int time_limit)
{
    return time_limit > 0 ? time_limit : max_wait_seconds;
}

}  // namespace

Result<std::unique_ptr<DirectoryLibrary>> DirectoryLibrary::load()
{
    std::string tried;
    for (const char* name : directory_library_names) {
        auto library = load_from(name);
        if (library)
            return library;
        if (!tried.empty())
            tried += "; ";
        tried += library.error().text;
    }
    return Error{ENOENT, tried};
}

Result<std::unique_ptr<DirectoryLibrary>> DirectoryLibrary::load_from(const std::string& file)
{
    auto library = platform::DynamicLibrary::open(file);
    if (!library)
        return library.error();
    EntryPoints api;
    std::string missing;
    bind_entry(*library, "ldap_open", api.open, missing);
    bind_entry(*library, "ldap_simple_bind_s", api.simple_bind_s, missing);
    bind_entry(*library, "ldap_search_s", api.search_s, missing);
    bind_entry(*library, "ldap_first_entry", api.first_entry, missing);
    bind_entry(*library, "ldap_next_entry", api.next_entry, missing);
    bind_entry(*library, "ldap_get_values", api.get_values, missing);
    bind_entry(*library, "ldap_value_free", api.value_free, missing);
    bind_entry(*library, "ldap_msgfree", api.msgfree, missing);
    bind_entry(*library, "ldap_unbind", api.unbind, missing);
    bind_entry(*library, "ldap_set_option", api.set_option, missing);
    if (!missing.empty())
        return Error{ENOENT, file + " lacks " + missing};  // the library is unloaded with `library`
    // libldap keeps process-wide state it never frees (its global options,
    // the TLS and SASL set-up) and its dependencies register exit handlers:
    // taking it out of the process again is neither clean nor safe. Once
    // bound it stays mapped; unloading drops our handle and entry points,
    // and a later load finds the same copy.
    library->keep_loaded();
    return std::unique_ptr<DirectoryLibrary>(new DirectoryLibrary(std::move(*library), api));
}

void DirectoryLibrary::set_connect_timeout(int seconds) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (seconds == m_connect_timeout)
        return;
    timeval tv{seconds, 0};
    // On the global options: ldap_open copies them into the new connection
    // and connects at once.
    if (m_api.set_option(nullptr, LDAP_OPT_NETWORK_TIMEOUT, &tv) == LDAP_OPT_SUCCESS)
        m_connect_timeout = seconds;
}

// ---- connection --------------------------------------------------------------

std::optional<DirectoryConnection> DirectoryConnection::open(const DirectoryLibrary& library, const std::string& host,
                                                             DirectoryLimits limits)
{
    if (host.empty())
        return std::nullopt;
    const auto& api = library.api();
    int wait = client_wait(limits.time_limit);
    library.set_connect_timeout(wait);
    ldap* ld = api.open(host.c_str(), directory_port);
    if (!ld)
        return std::nullopt;
    DirectoryConnection connection(&library, ld);

    // ldap_open speaks version 2, which current servers refuse to bind.
    int version = LDAP_VERSION3;
    api.set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    int time_limit = limits.time_limit > 0 ? limits.time_limit : 0;
    int size_limit = limits.size_limit > 0 ? limits.size_limit : 0;
    api.set_option(ld, LDAP_OPT_TIMELIMIT, &time_limit);
    api.set_option(ld, LDAP_OPT_SIZELIMIT, &size_limit);
    timeval tv{wait, 0};
    api.set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &tv);
    // Bounds ldap_simple_bind_s and ldap_search_s while they wait for a
    // reply that may never come.
    api.set_option(ld, LDAP_OPT_TIMEOUT, &tv);
    return connection;
}

DirectoryConnection::DirectoryConnection(DirectoryConnection&& other) noexcept
    : m_library(other.m_library), m_ld(std::exchange(other.m_ld, nullptr))
{
}

DirectoryConnection& DirectoryConnection::operator=(DirectoryConnection&& other) noexcept
{
    if (this != &other) {
        close();
        m_library = other.m_library;
        m_ld = std::exchange(other.m_ld, nullptr);
    }
    return *this;
}

DirectoryConnection::~DirectoryConnection()
{
    close();
}

void DirectoryConnection::close()
{
    if (m_ld)
        m_library->api().unbind(std::exchange(m_ld, nullptr));
}

int DirectoryConnection::bind_anonymously()
{
    return m_library->api().simple_bind_s(m_ld, nullptr, nullptr);
}

int DirectoryConnection::search(const std::string& base, const std::string& filter, DirectoryResult& out)
{
    out.reset();
    ldapmsg* result = nullptr;
    int rc = m_library->api().search_s(m_ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), nullptr, 0, &result);
    out.m_library = m_library;
    out.m_ld = m_ld;
    out.m_result = result;
    return rc;
}

// ---- result ------------------------------------------------------------------

DirectoryResult::DirectoryResult(DirectoryResult&& other) noexcept
    : m_library(other.m_library), m_ld(other.m_ld), m_result(std::exchange(other.m_result, nullptr))
{
}

DirectoryResult& DirectoryResult::operator=(DirectoryResult&& other) noexcept
{
    if (this != &other) {
        reset();
        m_library = other.m_library;
        m_ld = other.m_ld;
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

DirectoryResult::~DirectoryResult()
{
    reset();
}

void DirectoryResult::reset()
{
    if (m_result)
        m_library->api().msgfree(std::exchange(m_result, nullptr));
}

DirectoryResult::Entry DirectoryResult::first() const
{
    return m_result ? m_library->api().first_entry(m_ld, m_result) : nullptr;
}

DirectoryResult::Entry DirectoryResult::next(Entry entry) const
{
    return entry ? m_library->api().next_entry(m_ld, entry) : nullptr;
}

std::vector<std::string> DirectoryResult::values(Entry entry, const std::string& attribute) const
{
    std::vector<std::string> out;
    if (!entry || attribute.empty())
        return out;
    char** values = m_library->api().get_values(m_ld, entry, attribute.c_str());
    if (!values)
        return out;
    for (char** v = values; *v; ++v)
        out.emplace_back(*v);
    m_library->api().value_free(values);
    return out;
}

}  // namespace corvane::accounts
