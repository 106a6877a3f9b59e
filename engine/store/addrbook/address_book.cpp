#include "engine/store/addrbook/address_book.h"

#include <algorithm>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::addrbook {
namespace {

// A field as it may stand in the file: no tab, CR, LF or other control
// byte, and no longer than its width.
std::string field(std::string_view text, std::size_t max_bytes)
{
    std::string out = text::without_controls(text::cut(text, max_bytes));
    std::replace(out.begin(), out.end(), '\t', ' ');
    return out;
}

enum class Order { ascending, descending };

struct SortKey {
    std::string AddressEntry::*first;
    Order order;
    std::string AddressEntry::*tie;  // always ascending
};

SortKey sort_key(std::string_view key)
{
    if (text::iequals(key, "RevName"))
        return {&AddressEntry::name, Order::descending, &AddressEntry::email};
    if (text::iequals(key, "EMail"))
        return {&AddressEntry::email, Order::ascending, &AddressEntry::name};
    if (text::iequals(key, "RevEMail"))
        return {&AddressEntry::email, Order::descending, &AddressEntry::name};
    if (text::iequals(key, "Comment"))
        return {&AddressEntry::comment, Order::ascending, &AddressEntry::name};
    if (text::iequals(key, "RevComment"))
        return {&AddressEntry::comment, Order::descending, &AddressEntry::name};
    return {&AddressEntry::name, Order::ascending, &AddressEntry::email};
}

}  // namespace

bool AddressBook::parse_line(std::string_view line, AddressEntry& entry)
{
    const std::size_t tab1 = line.find('\t');
    if (tab1 == std::string_view::npos)
        return false;
    const std::size_t tab2 = line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos)
        return false;
    std::string_view comment = line.substr(tab2 + 1);
    comment = comment.substr(0, comment.find('\t'));
    entry.name = field(line.substr(0, tab1), max_line);
    entry.email = field(line.substr(tab1 + 1, tab2 - tab1 - 1), max_line);
    entry.comment = field(comment, max_line);
    return true;
}

void AddressBook::open(const std::string& directory)
{
    m_path = platform::path_nocase(directory, file_name);
    reload();
}

void AddressBook::reload()
{
    m_entries.clear();
    if (m_path.empty())
        return;
    auto reader = mime::LineReader::open(m_path);
    if (!reader)
        return;
    std::string line;
    AddressEntry entry;
    while (m_entries.size() < max_entries && reader->next(line, max_line)) {
        if (parse_line(line, entry))
            m_entries.push_back(std::move(entry));
    }
}

void AddressBook::add(std::string_view name, std::string_view email, std::string_view comment)
{
    if (m_entries.size() >= max_entries)
        return;
    m_entries.push_back({field(name, max_name), field(email, max_email), field(comment, max_comment)});
}

Result<void> AddressBook::save() const
{
    std::string data;
    for (const AddressEntry& e : m_entries) {
        data += e.name;
        data += '\t';
        data += e.email;
        data += '\t';
        data += e.comment;
        data += "\r\n";
    }
    return platform::write_file_atomic(m_path, data, 0600);
}

void AddressBook::sort(std::string_view key)
{
    if (key.empty())
        return;
    const SortKey k = sort_key(key);
    std::stable_sort(m_entries.begin(), m_entries.end(), [&k](const AddressEntry& a, const AddressEntry& b) {
        int c = text::icompare(a.*k.first, b.*k.first);
        if (k.order == Order::descending)
            c = -c;
        if (c == 0)
            c = text::icompare(a.*k.tie, b.*k.tie);
        return c < 0;
    });
}

bool AddressBook::contains(std::string_view name, std::string_view email) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const AddressEntry& e) {
        return text::iequals(e.name, name) && text::iequals(e.email, email);
    });
}

}  // namespace corvane::addrbook
