// The address book's line parser: every line either parses or is skipped,
// a parsed entry written back parses to itself, and every sort key leaves
// the book in the order it promises.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text/strings.h"
#include "engine/store/addrbook/address_book.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    addrbook::AddressBook book;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        std::string_view line = input.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        addrbook::AddressEntry entry;
        if (addrbook::AddressBook::parse_line(line, entry)) {
            std::string written = entry.name + "\t" + entry.email + "\t" + entry.comment;
            addrbook::AddressEntry again;
            if (!addrbook::AddressBook::parse_line(written, again) || !(again == entry))
                abort();
            book.add(entry.name, entry.email, entry.comment);
        }
        start = end + 1;
    }
    for (const char* key : {"Name", "RevName", "EMail", "RevEMail", "Comment", "RevComment", "Other"}) {
        book.sort(key);
        const auto& e = book.entries();
        for (std::size_t i = 1; i < e.size(); ++i) {
            int c = 0;
            std::string_view k = key;
            if (k == "Name" || k == "Other")
                c = text::icompare(e[i - 1].name, e[i].name);
            else if (k == "RevName")
                c = -text::icompare(e[i - 1].name, e[i].name);
            else if (k == "EMail")
                c = text::icompare(e[i - 1].email, e[i].email);
            else if (k == "RevEMail")
                c = -text::icompare(e[i - 1].email, e[i].email);
            else if (k == "Comment")
                c = text::icompare(e[i - 1].comment, e[i].comment);
            else
                c = -text::icompare(e[i - 1].comment, e[i].comment);
            if (c > 0)
                abort();
        }
    }
    return 0;
}
