// Tags of the user's preferences: the options page's PREFS_* values, the
// list's sort order and refresh time, the compose page's size, the address
// book's sort order and the personal dictionary.
#include <algorithm>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/streams.h"
#include "engine/features/tags/tags.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::tags {

namespace {

constexpr std::size_t max_dictionary_words = 100000;

const accounts::UserSettings& settings(TagCall& call)
{
    return call.user.settings();
}

void flag(TagCall& call, bool on)
{
    call.out.put(on ? '1' : '0');
}

// The words of the user's Dictionary.txt, sorted.
void dictionary(TagCall& call)
{
    auto reader = mime::LineReader::open(platform::path_nocase(call.user.directory(), "Dictionary.txt"));
    if (!reader)
        return;
    std::vector<std::string> words;
    std::string line;
    while (words.size() < max_dictionary_words && reader->next(line, 255)) {
        std::string_view word = text::trim(line);
        if (!word.empty())
            words.emplace_back(word);
    }
    std::sort(words.begin(), words.end());
    for (const std::string& word : words) {
        write_text(call, word);
        call.out.write("\r\n");
    }
}

}  // namespace

void add_settings_tags(TagTable& table)
{
    table.add("LISTREFRESHTIME", [](TagCall& call) {
        int minutes = settings(call).list_refresh_time;
        write_number(call, minutes < 1 ? 600 : minutes * 60LL);
    });
    table.add("LISTSORT", [](TagCall& call) { write_attribute(call, settings(call).sort_order); });
    table.add("ADDRSORT", [](TagCall& call) { write_attribute(call, settings(call).addr_book_sort_order); });
    table.add("COMPOSEHEIGHT", [](TagCall& call) { write_number(call, settings(call).compose_height); });
    table.add("COMPOSEWIDTH", [](TagCall& call) { write_number(call, settings(call).compose_width); });
    table.add("PREFS_ADDREPLIESTOADDRBOOK", [](TagCall& call) { flag(call, settings(call).add_replies_to_addr_book); });
    table.add("PREFS_DICTIONARY", dictionary);
    table.add("PREFS_EMPTYTRASH", [](TagCall& call) { flag(call, settings(call).empty_trash); });
    table.add("PREFS_LISTALLATTACH", [](TagCall& call) { flag(call, settings(call).list_all_attach); });
    table.add("PREFS_LISTREFRESHTIME", [](TagCall& call) { write_number(call, settings(call).list_refresh_time); });
    table.add("PREFS_MULTIPARTPREFER", [](TagCall& call) { write_attribute(call, settings(call).multipart_prefer); });
    table.add("PREFS_SAVESENTMAIL", [](TagCall& call) { flag(call, settings(call).save_sent_mail); });
    table.add("PREFS_SHOWBYADDRESS", [](TagCall& call) { write_number(call, settings(call).show_by_address); });
    table.add("PREFS_SORTORDER", [](TagCall& call) { write_attribute(call, settings(call).sort_order); });
    table.add("PREFS_SPELLCHECKBEFORESEND", [](TagCall& call) { flag(call, settings(call).check_before_send); });
    table.add("PREFS_SPELLCHECKIGNOREALLCAPS", [](TagCall& call) { flag(call, settings(call).ignore_all_caps); });
    table.add("PREFS_SPELLCHECKIGNOREMIXEDDIGITS",
              [](TagCall& call) { flag(call, settings(call).ignore_mixed_digits); });
    table.add("PREFS_STYLE", [](TagCall& call) { write_attribute(call, settings(call).style); });
    table.add("PREFS_THEME", [](TagCall& call) { write_attribute(call, settings(call).theme); });
}

}  // namespace corvane::tags
