#include "engine/features/address_book/address_book_view.h"

#include <string>
#include <vector>

#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/sessions/session.h"
#include "engine/store/addrbook/address_book.h"

namespace corvane::address_book {
namespace {

using dispatch::RequestContext;

constexpr std::size_t max_sort_order = 15;

// One chosen row as it goes into a header.
std::string recipient(std::string_view name, std::string_view address)
{
    if (address.find_first_of(",;") != std::string_view::npos)
        return std::string(address);
    if (name.empty())
        return "<" + std::string(address) + ">";
    std::string quoted;
    for (char c : name) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return "\"" + quoted + "\" <" + std::string(address) + ">";
}

void collect(const cgi::FieldTable& fields, std::string_view number_field, std::string_view name_prefix,
             std::string_view email_prefix, std::vector<std::string>& out)
{
    for (const auto& entry : fields.entries()) {
        if (!text::iequals(entry.name, number_field))
            continue;
        const std::string address = fields.value(std::string(email_prefix) + entry.value);
        if (address.empty())
            continue;
        out.push_back(recipient(fields.value(std::string(name_prefix) + entry.value), address));
    }
}

}  // namespace

void AddressBookView::run(RequestContext& request)
{
    sessions::Session* session = request.session();
    accounts::UserRecord* user = request.user();
    if (!session || !user)
        return;
    cgi::FieldTable& fields = request.fields();
    if (fields.present("Cancel")) {
        request.set_view(session->previous_view);
        return;
    }

    bool rewrite =
        !fields.missing_or_empty("Finished") || !fields.missing_or_empty("Save") || !fields.missing_or_empty("Create");
    const std::string& sort = fields.value("Sort");
    if (!sort.empty() && !text::iequals(sort, user->settings().addr_book_sort_order)) {
        user->settings().addr_book_sort_order = text::bounded(text::without_controls(sort), max_sort_order);
        user->write_text("User", "AddrBookSortOrder", user->settings().addr_book_sort_order);
        rewrite = true;
    }
    bool has_rows = false;
    for (const auto& entry : fields.entries()) {
        if (text::istarts_with(entry.name, "Delete:"))
            rewrite = true;
        if (text::istarts_with(entry.name, "AddrEMail:"))
            has_rows = true;
    }

    const bool finished = !fields.missing_or_empty("Finished");
    if (finished) {
        std::vector<std::string> chosen;
        collect(fields, "AddrNum", "AddrName:", "AddrEMail:", chosen);
        collect(fields, "GlobalNum", "GlobalName:", "GlobalEMail:", chosen);
        std::string data;
        for (const std::string& c : chosen)
            data += (data.empty() ? "" : ", ") + c;
        fields.set("HeaderData", data);
    }

    if (rewrite && has_rows) {
        addrbook::AddressBook& book = user->address_book();
        book.clear();
        for (const auto& entry : fields.entries()) {
            if (!text::istarts_with(entry.name, "AddrEMail:") || entry.value.empty())
                continue;
            const std::string key = entry.name.substr(10);
            if (!fields.missing_or_empty("Delete:" + key))
                continue;
            book.add(fields.value("AddrName:" + key), entry.value, fields.value("AddrComment:" + key));
        }
        if (auto saved = book.save(); !saved)
            request.log().line(log::Level::error, "Could not write the address book: %s", saved.error().text.c_str());
    }

    if (finished) {
        fields.remove("Finished");
        request.set_view(session->previous_view);
    }
}

}  // namespace corvane::address_book
