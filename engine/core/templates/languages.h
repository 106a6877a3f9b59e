// Languages.ini: the numbered interface texts of every language and the
// translations of the texts that templates mark with "[$" and "$]".
//
// The file has one section per language ("[de]"); each entry is a number, "="
// and a text. Entry 1 is the language's own name, entries 1 to 99 are the
// engine's numbered texts (language string N is entry N + 1), higher entries
// translate template texts. [en] is the master and the fallback of every
// other section. Lines are read up to 255 bytes (the rest of a longer line is
// dropped), a trailing CR LF or LF is removed, empty lines and lines that
// begin with ";" are skipped.
//
// - LanguageTables: the [en] section and one language's section, the
//   resolved language strings 0..98 and the marker translation, as a
//   template set uses them.
// - verify_languages(): the start-up check against the templates. Texts
//   marked in templates that [en] lacks get new numbers (from 100 up, never
//   among the engine's own), and the file is rewritten in number order when
//   that is needed, with Languages.bak holding the previous file; entries
//   other sections lack are reported (and filled with the English text when
//   EnglishTranslation is on). A section keeps at most 1000 entries; when a
//   file has more, the further entries are ignored and the file is not
//   rewritten, so nothing in it is lost.
// - write_language_options(): the language choice list of the pages.
//
// This module neither decides which language a request uses nor reloads the
// file while the engine runs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/core/cgi/field_table.h"

namespace corvane::log {
class Logger;
}
namespace corvane::cgi {
class OutputStream;
}

namespace corvane::templates {

constexpr std::string_view languages_file = "Languages.ini";
constexpr std::size_t max_language_line = 255;
// Section names as template sets and the check read them, and as the
// language choice list reads them.
constexpr std::size_t language_code_size = 3;
constexpr std::size_t option_code_size = 15;
constexpr int language_string_count = 99;
constexpr std::size_t max_section_entries = 1000;
// The first number given to a template text; lower numbers are the
// engine's own texts.
constexpr std::int64_t first_marker_number = 100;

// Calls line_fn(line) for every line of a Languages.ini text that counts:
// cut to 255 bytes (at a character boundary), without its line end, not
// empty, not a comment.
template <typename LineFn>
void for_each_language_line(std::string_view file, LineFn&& line_fn);

// The name in a section line ("[de]" gives "de"): at most max bytes after
// "[" and before "]".
std::string_view section_name(std::string_view line, std::size_t max);

// Section names of a Languages.ini text in file order (3-byte names).
std::vector<std::string> language_sections(std::string_view file);

class LanguageTables {
public:
    LanguageTables() = default;
    // The tables of language (its section, and [en]) from a Languages.ini text.
    static LanguageTables parse(std::string_view file, std::string_view language);

    // Language string number (0..98): this language's entry number + 1, else
    // the English one, else empty.
    const std::string& string(int number) const;
    // The translation of a marked template text: the English entry whose
    // text equals it (any case) gives the number, this language's entry of
    // that number the text. The marker text itself when either is missing.
    std::string translate(std::string_view marker) const;

    const cgi::FieldTable& english() const { return m_english; }
    const cgi::FieldTable& language() const { return m_language; }

private:
    cgi::FieldTable m_english;
    cgi::FieldTable m_language;
    std::unordered_map<std::string, std::string> m_english_key;  // lower-cased text -> key
    std::array<std::string, language_string_count> m_strings;
};

// What the start-up check found in one Languages.ini text.
struct LanguageCheck {
    bool update = false;                // the file is due for a rewrite
    bool may_rewrite = true;            // false when a rewrite would lose entries
    std::string new_file;               // the rewritten file (when update)
    std::vector<std::string> missing;   // "needs translation" lines
    std::vector<std::string> problems;  // things worth an error line
};

// The check itself, without files: the file's text, the texts marked in the
// templates (in the order found) and the EnglishTranslation setting.
LanguageCheck check_languages(std::string_view file, const std::vector<std::string>& markers, bool english_translation);

// Every "[$" ... "$]" text on one line.
void collect_markers(std::string_view line, std::vector<std::string>& markers);

// The start-up check of template_dir/Languages.ini against every template
// below template_dir. False when the file cannot be read; a missing file is
// not logged here (start-up says "Could not find Languages.ini!").
bool verify_languages(const std::string& template_dir, bool english_translation, log::Logger& log);

// One "<OPTION VALUE="xx">name</OPTION>" line per section with an entry
// 001, in file order: of a Languages.ini text, and of the file in
// template_dir (nothing when it cannot be read).
void write_language_options_of(std::string_view file, cgi::OutputStream& out);
void write_language_options(const std::string& template_dir, cgi::OutputStream& out);

// The text of template_dir/Languages.ini (found without regard to case), or
// empty when it cannot be read.
std::string read_languages_file(const std::string& template_dir);

// ---- implementation ----------------------------------------------------------

std::string_view cut_language_line(std::string_view line);

template <typename LineFn>
void for_each_language_line(std::string_view file, LineFn&& line_fn)
{
    std::size_t pos = 0;
    while (pos < file.size()) {
        std::size_t end = file.find('\n', pos);
        std::string_view line = file.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? file.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = cut_language_line(line);
        if (line.empty() || line.front() == ';')
            continue;
        line_fn(line);
    }
}

}  // namespace corvane::templates
