#include "common/ini/profile.h"

#include <cerrno>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "common/platform/files.h"
#include "common/text/secrets.h"
#include "common/text/strings.h"

namespace corvane::ini {

namespace fs = corvane::platform;

namespace {

// A file that holds a password (scrambled or not) is for its owner only,
// whoever made it and with whatever mode: an installer's 0644 User.ini
// would show the scrambled password, and the plain text before the first
// logon, to every local user.
bool holds_secret(const Document& doc)
{
    for (const auto& section : doc.sections()) {
        for (const auto& key : doc.keys(section)) {
            if (text::is_secret_field(key)) {
                auto value = doc.get(section, key);
                if (value && !value->empty())
                    return true;
            }
        }
    }
    return false;
}

// Keeps parsed files while their identity on disk is unchanged. Each entry
// holds the file open: as long as we hold its inode, no new file can be
// given the same inode number, so "same identity" really means same file.
class Cache {
public:
    static Cache& instance()
    {
        static Cache cache;
        return cache;
    }

    // The parsed file; an empty document when it is missing. When it exists
    // but cannot be read (too large, not a file, no permission), also an
    // empty document, and *unreadable is set so writers refuse to replace
    // what they could not read.
    std::shared_ptr<const Document> load(const std::string& path, bool* unreadable = nullptr)
    {
        if (unreadable)
            *unreadable = false;
        auto id = fs::identity_of(path);
        if (!id)
            return empty();
        {
            std::lock_guard lock(m_mutex);
            auto it = m_entries.find(path);
            if (it != m_entries.end() && it->second.identity == *id)
                return it->second.document;
        }
        // Only a regular file: a FIFO or device under the name would block
        // or feed us without end.
        auto file = fs::open_regular_file(path);
        if (!file) {
            if (unreadable)
                *unreadable = file.error().code != ENOENT;
            return empty();
        }
        auto document = read_and_store(path, std::move(file->fd));
        if (!document) {
            if (unreadable)
                *unreadable = true;
            return empty();
        }
        return document;
    }

    // After our own write: the new file (fd) and its document.
    void store(const std::string& path, fs::UniqueFd fd, std::shared_ptr<const Document> document)
    {
        auto id = fs::identity_of(fd.get());
        if (!id)
            return;
        put(path, Entry{*id, std::move(fd), std::move(document), {}});
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
        m_order.clear();
    }

private:
    struct Entry {
        fs::FileIdentity identity;
        fs::UniqueFd fd;
        std::shared_ptr<const Document> document;
        std::list<std::string>::iterator order{};
    };

    // Bounded so a process serving many users keeps a fixed number of
    // descriptors and parsed files.
    static constexpr std::size_t capacity = 256;

    static std::shared_ptr<const Document> empty()
    {
        static const auto nothing = std::make_shared<const Document>();
        return nothing;
    }

    std::shared_ptr<const Document> read_and_store(const std::string& path, fs::UniqueFd fd)
    {
        auto id = fs::identity_of(fd.get());
        auto data = fs::read_fd(fd.get(), max_file_size);
        if (!id || !data)
            return nullptr;
        auto document = std::make_shared<const Document>(Document::parse(*data));
        put(path, Entry{*id, std::move(fd), document, {}});
        return document;
    }

    void put(const std::string& path, Entry entry)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(path);
        if (it != m_entries.end()) {
            m_order.erase(it->second.order);
            m_entries.erase(it);
        }
        while (m_entries.size() >= capacity && !m_order.empty()) {
            m_entries.erase(m_order.back());
            m_order.pop_back();
        }
        m_order.push_front(path);
        entry.order = m_order.begin();
        m_entries.emplace(path, std::move(entry));
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::list<std::string> m_order;  // most recently stored first
};

thread_local ReadScope* t_scope = nullptr;

}  // namespace

ReadScope::ReadScope(std::string path) : m_path(std::move(path)), m_outer(t_scope)
{
    t_scope = this;
}

ReadScope::~ReadScope()
{
    t_scope = m_outer;
}

bool is_yes(std::string_view value)
{
    if (value.empty())
        return false;
    char c = value[0];
    return c == '1' || c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

void clear_cache()
{
    Cache::instance().clear();
}

std::shared_ptr<const Document> Profile::snapshot() const
{
    for (ReadScope* scope = t_scope; scope; scope = scope->m_outer) {
        if (scope->m_path == m_path) {
            if (!scope->m_document)
                scope->m_document = Cache::instance().load(m_path);
            return scope->m_document;
        }
    }
    return Cache::instance().load(m_path);
}

std::string Profile::text(std::string_view section, std::string_view key, std::string_view def,
                          std::size_t max_bytes) const
{
    auto doc = snapshot();
    auto value = doc->get(section, key);
    return text::bounded(value ? *value : def, max_bytes);
}

int number_value(std::optional<std::string_view> value, int def)
{
    if (!value || value->empty())
        return def;
    std::int64_t n = text::leading_number(*value);
    if (n > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (n < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(n);
}

bool yes_no_value(std::optional<std::string_view> value, bool def)
{
    return value ? is_yes(text::cut(*value, 15)) : def;
}

int Profile::number(std::string_view section, std::string_view key, int def) const
{
    return number_value(snapshot()->get(section, key), def);
}

bool Profile::yes_no(std::string_view section, std::string_view key, bool def) const
{
    return yes_no_value(snapshot()->get(section, key), def);
}

bool Profile::has_key(std::string_view section, std::string_view key) const
{
    return snapshot()->get(section, key).has_value();
}

std::vector<std::string> Profile::sections() const
{
    return snapshot()->sections();
}

std::vector<std::string> Profile::keys(std::string_view section) const
{
    return snapshot()->keys(section);
}

bool Profile::update(const std::function<bool(Document&)>& edit) const
{
    auto lock = fs::DirectoryLock::acquire(fs::directory_of(m_path));
    if (!lock)
        return false;
    // Under the lock the cache check sees any write another process
    // finished before we took it.
    bool unreadable = false;
    auto current = Cache::instance().load(m_path, &unreadable);
    if (unreadable)
        return false;
    Document changed = *current;
    if (!edit(changed))
        return false;
    std::string data = changed.serialize();
    if (data == current->serialize())
        return true;
    fs::UniqueFd fd;
    fs::Access access = holds_secret(changed) ? fs::Access::owner_only : fs::Access::keep;
    auto written = fs::write_file_atomic(m_path, data, fs::private_file_mode, fs::Durability::flush, &fd, access);
    if (!written)
        return false;
    auto document = std::make_shared<const Document>(std::move(changed));
    for (ReadScope* scope = t_scope; scope; scope = scope->m_outer) {
        if (scope->m_path == m_path)
            scope->m_document = document;
    }
    Cache::instance().store(m_path, std::move(fd), std::move(document));
    return true;
}

bool Profile::write_text(std::string_view section, std::string_view key, std::string_view value) const
{
    return update([&](Document& doc) { return doc.set(section, key, value); });
}

bool Profile::write_number(std::string_view section, std::string_view key, std::int64_t value) const
{
    return write_text(section, key, std::to_string(value));
}

bool Profile::write_yes_no(std::string_view section, std::string_view key, bool value) const
{
    return write_text(section, key, yes_no_text(value));
}

bool Profile::delete_key(std::string_view section, std::string_view key) const
{
    return update([&](Document& doc) {
        doc.remove_key(section, key);
        return true;
    });
}

bool Profile::delete_section(std::string_view section) const
{
    return update([&](Document& doc) {
        doc.remove_section(section);
        return true;
    });
}

}  // namespace corvane::ini
