// The values of the template tags inside a session, beyond the page frame
// the dispatcher writes itself (LINK, ACTION, USER, ...).
//
// A tag is looked up by its exact upper-case name in one table; each group
// of tags has its file here and adds its names to the table (add_*_tags),
// so a module that brings new tags adds one file and one line in tags.cpp.
// A name no group knows is not expanded (the dispatcher then logs "Unable
// to expand"); tags whose data belongs to pages not built yet are known and
// write nothing.
//
// List tags (MESSAGEDATA, FOLDERLIST, HOSTDATA, ...) write a row template
// of the theme's Data folder once per item. While a row is written, the
// item it describes is the session's current message, current item
// (Session::current_item) or folder item (Session::folder_item); every list
// tag puts the old value back when it ends.
//
// Escaping: values taken from a request or a mail are escaped for where
// they stand, also where older templates wrote them raw; text shown as
// text keeps its line breaks and runs of blanks; values the engine makes
// itself (links, numbers) are written as they are. Colours from the INI
// files are kept to characters a colour can have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/dispatch/request_steps.h"
#include "engine/core/dispatch/session_tags.h"
#include "engine/core/sessions/session.h"

namespace corvane::accounts {
class UserRecord;
}
namespace corvane::store {
struct MessageEntry;
struct FolderCount;
struct PartRecord;
}  // namespace corvane::store

namespace corvane::tags {

class Tags;

// What a tag's value is made from.
struct TagCall {
    dispatch::RequestContext& request;
    cgi::OutputStream& out;
    Tags& tags;
    sessions::Session& session;
    accounts::UserRecord& user;
};
using TagFunction = void (*)(TagCall& call);

class TagTable {
public:
    void add(std::string_view name, TagFunction function);
    // The function of an exact name, or null.
    TagFunction find(std::string_view name) const;
    // Sorts the table once every group has added its names.
    void seal();
    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::string_view name;
        TagFunction function;
    };
    std::vector<Entry> m_entries;
};

void add_address_tags(TagTable& table);
void add_compose_tags(TagTable& table);
void add_filter_tags(TagTable& table);
void add_folder_tags(TagTable& table);
void add_mailbox_tags(TagTable& table);
void add_message_tags(TagTable& table);
void add_page_tags(TagTable& table);
void add_part_tags(TagTable& table);
void add_settings_tags(TagTable& table);

class Tags final : public dispatch::TagValues {
public:
    Tags();
    bool expand(std::string_view tag, dispatch::RequestContext& request, cgi::OutputStream& out) override;
    const TagTable& table() const { return m_table; }

private:
    TagTable m_table;
};

// A row template of the theme's Data folder, found once and written once
// per row with the session's tags. Writes nothing when the theme has no
// such template (the lookup logs that).
class RowTemplate {
public:
    RowTemplate(TagCall& call, std::string_view name);
    explicit operator bool() const { return m_text != nullptr; }
    void write();

private:
    TagCall& m_call;
    const std::string* m_text = nullptr;
    dispatch::SessionTags m_provider;
};

// ---- what rows describe ---------------------------------------------------------

// The message a tag describes: the row of a message list, else the
// session's current message; null when there is none.
store::MessageEntry* current_entry(TagCall& call);

// Sets the current message for the rows of a message list and puts the old
// one back at the end.
class MessageRow {
public:
    MessageRow(TagCall& call);
    ~MessageRow();
    MessageRow(const MessageRow&) = delete;
    MessageRow& operator=(const MessageRow&) = delete;
    void set(store::MessageEntry& entry);

private:
    TagCall& m_call;
    std::optional<std::uint32_t> m_saved;
    store::MessageEntry* m_saved_row;
};

// Sets the current item for the rows of a list and puts the old one back.
class ItemRow {
public:
    explicit ItemRow(TagCall& call);
    ~ItemRow();
    ItemRow(const ItemRow&) = delete;
    ItemRow& operator=(const ItemRow&) = delete;
    void set(long item);

private:
    TagCall& m_call;
    long m_saved;
};

// ---- writing values ----------------------------------------------------------------

// For attributes and single-line text: " & < > as entities.
void write_attribute(TagCall& call, std::string_view value);
// For text: the same, with line breaks and runs of blanks kept.
void write_text(TagCall& call, std::string_view value);
void write_number(TagCall& call, long long value);
// A colour from an INI file: letters, digits and "#" only.
void write_colour(TagCall& call, std::string_view value);
// The session's link base, as LINK writes it.
void write_link(TagCall& call);
// Language string n of the request's language.
std::string language_string(TagCall& call, int number);

// Kilobytes as the pages show them: (bytes + 512) / 1024.
long long kilobytes(long long bytes);

// The compose views (Compose, Compose-Advanced, Compose-Attach,
// Compose-SpellCheck).
bool on_compose_view(TagCall& call);

}  // namespace corvane::tags
