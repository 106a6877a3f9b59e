// The directory (LDAP) client: OpenLDAP's libldap, loaded at run time.
//
// The engine runs without LDAP when the library is missing, so it is not
// linked but loaded with dlopen at start-up (DirectoryLibrary::load) and
// released when its owner goes (libldap itself stays mapped: it cannot be
// taken out of a process cleanly). Ten entry points are bound: ldap_open,
// ldap_simple_bind_s, ldap_search_s, ldap_first_entry, ldap_next_entry,
// ldap_get_values, ldap_value_free, ldap_msgfree, ldap_unbind and
// ldap_set_option; a library lacking any of them is not used.
//
// DirectoryConnection and DirectoryResult own what libldap hands out and
// give it back on every path. Both the directory logon and the address
// look-up use them: open (host, limits), bind anonymously, search a subtree
// for all attributes, walk the entries, read an attribute's values.
//
// Time: libldap's time limit is only a request to the server. A server that
// accepts the connection and then never answers would hang a request, so
// the same number of seconds also bounds the connect and every synchronous
// call on the client side (a limit of 0 or less gets max_wait_seconds).
//
// Hosts: the host text goes to ldap_open as it is, with port 389; like
// libldap itself it may name another port ("ldap.example.com:3389") or
// several hosts separated by blanks. An empty host is refused here rather
// than left to libldap, which would fall back to its own configured default.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/platform/dynamic_library.h"
#include "common/platform/result.h"

struct ldap;
struct ldapmsg;

namespace corvane::accounts {

// Library names tried in order.
inline constexpr const char* directory_library_names[] = {"libldap.so.2", "libldap-2.5.so.0", "libldap.so"};
constexpr int directory_port = 389;
// Client-side bound when the configured time limit is 0 (no limit) or less.
constexpr int max_wait_seconds = 30;

class DirectoryLibrary {
public:
    struct EntryPoints {
        ldap* (*open)(const char* host, int port) = nullptr;
        int (*simple_bind_s)(ldap* ld, const char* who, const char* password) = nullptr;
        int (*search_s)(ldap* ld, const char* base, int scope, const char* filter, char** attributes,
                        int attributes_only, ldapmsg** result) = nullptr;
        ldapmsg* (*first_entry)(ldap* ld, ldapmsg* result) = nullptr;
        ldapmsg* (*next_entry)(ldap* ld, ldapmsg* entry) = nullptr;
        char** (*get_values)(ldap* ld, ldapmsg* entry, const char* attribute) = nullptr;
        void (*value_free)(char** values) = nullptr;
        int (*msgfree)(ldapmsg* result) = nullptr;
        int (*unbind)(ldap* ld) = nullptr;
        int (*set_option)(ldap* ld, int option, const void* value) = nullptr;
    };

    // Tries directory_library_names in order; the error names what was
    // missing. This is the one call the engine's start-up makes.
    static Result<std::unique_ptr<DirectoryLibrary>> load();
    // Loads one given file (tests, or an administrator's own build).
    static Result<std::unique_ptr<DirectoryLibrary>> load_from(const std::string& file);

    DirectoryLibrary(const DirectoryLibrary&) = delete;
    DirectoryLibrary& operator=(const DirectoryLibrary&) = delete;
    ~DirectoryLibrary() = default;

    const std::string& path() const { return m_library.path(); }
    const EntryPoints& api() const { return m_api; }

    // Sets the connect timeout that libldap copies into each new
    // connection (ldap_open connects before a connection's own options can
    // be set). Changed only when the value differs from the last one set.
    void set_connect_timeout(int seconds) const;

private:
    DirectoryLibrary(platform::DynamicLibrary library, EntryPoints api) : m_library(std::move(library)), m_api(api) {}

    platform::DynamicLibrary m_library;
    EntryPoints m_api;
    mutable std::mutex m_mutex;
    mutable int m_connect_timeout = -1;
};

struct DirectoryLimits {
    int time_limit = 5;  // seconds
    int size_limit = 1;  // entries
};

class DirectoryResult;

class DirectoryConnection {
public:
    // Connects to host (port 389 unless the host names one) and sets LDAP
    // version 3, the limits and the client-side timeouts. nullopt when the
    // host is empty or cannot be reached.
    static std::optional<DirectoryConnection> open(const DirectoryLibrary& library, const std::string& host,
                                                   DirectoryLimits limits);

    DirectoryConnection(DirectoryConnection&& other) noexcept;
    DirectoryConnection& operator=(DirectoryConnection&& other) noexcept;
    DirectoryConnection(const DirectoryConnection&) = delete;
    DirectoryConnection& operator=(const DirectoryConnection&) = delete;
    // Closes the connection (ldap_unbind).
    ~DirectoryConnection();

    // Simple bind without name and password; the LDAP result code (0 is
    // success).
    int bind_anonymously();
    // Searches the subtree below base for all attributes. The LDAP result
    // code; out receives the result (which may hold entries even on
    // failure, and is freed either way when out goes).
    int search(const std::string& base, const std::string& filter, DirectoryResult& out);

private:
    DirectoryConnection(const DirectoryLibrary* library, ldap* ld) : m_library(library), m_ld(ld) {}
    void close();

    const DirectoryLibrary* m_library = nullptr;
    ldap* m_ld = nullptr;
};

// A search result; must not outlive its connection.
class DirectoryResult {
public:
    using Entry = ldapmsg*;

    DirectoryResult() = default;
    DirectoryResult(DirectoryResult&& other) noexcept;
    DirectoryResult& operator=(DirectoryResult&& other) noexcept;
    DirectoryResult(const DirectoryResult&) = delete;
    DirectoryResult& operator=(const DirectoryResult&) = delete;
    ~DirectoryResult();

    // Entries in the order the server sent them; nullptr after the last.
    Entry first() const;
    Entry next(Entry entry) const;
    // The values of one attribute of an entry (empty when absent); the
    // library's list is freed before this returns.
    std::vector<std::string> values(Entry entry, const std::string& attribute) const;

private:
    friend class DirectoryConnection;
    void reset();

    const DirectoryLibrary* m_library = nullptr;
    ldap* m_ld = nullptr;
    ldapmsg* m_result = nullptr;
};

}  // namespace corvane::accounts
