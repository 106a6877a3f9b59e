#include "engine/core/templates/languages.h"

#include <map>
#include <unordered_set>

#include "common/log/log_file.h"
#include "common/log/log_texts.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/template_files.h"

namespace corvane::templates {

namespace fs = corvane::platform;

namespace {

// Languages.ini is a small text file; anything larger is not one.
constexpr std::size_t max_languages_size = 16u << 20;
// Entry numbers beyond this are not entries but garbage.
constexpr std::int64_t max_entry_number = 9999999;

const std::string no_text;

std::string entry_key(std::int64_t number)
{
    return text::format("%03lld", static_cast<long long>(number));
}

std::string entry_line(std::int64_t number, std::string_view value)
{
    std::string line = entry_key(number);
    line += '=';
    line += value;
    line += "\r\n";
    return line;
}

// One section of the file as the start-up check sees it.
struct CheckSection {
    std::string name;
    std::map<std::int64_t, std::string> entries;
    std::int64_t highest = 0;
    bool overflow = false;  // entries were ignored: a rewrite would lose them
};

}  // namespace

std::string_view cut_language_line(std::string_view line)
{
    std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos)
        line = line.substr(0, nul);
    return text::cut(line, max_language_line);
}

std::string_view section_name(std::string_view line, std::size_t max)
{
    if (line.empty() || line.front() != '[')
        return {};
    line.remove_prefix(1);
    std::size_t close = line.find(']');
    if (close != std::string_view::npos)
        line = line.substr(0, close);
    return text::cut(line, max);
}

std::vector<std::string> language_sections(std::string_view file)
{
    std::vector<std::string> names;
    for_each_language_line(file, [&](std::string_view line) {
        if (line.front() == '[')
            names.emplace_back(section_name(line, language_code_size));
    });
    return names;
}

// ---- LanguageTables ----------------------------------------------------------

LanguageTables LanguageTables::parse(std::string_view file, std::string_view language)
{
    LanguageTables tables;
    bool in_english = false;
    bool in_language = false;
    for_each_language_line(file, [&](std::string_view line) {
        if (line.front() == '[') {
            std::string_view name = section_name(line, language_code_size);
            in_english = text::iequals(name, "en");
            in_language = text::iequals(name, language);
            return;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (in_english)
            tables.m_english.set(key, value);
        if (in_language)
            tables.m_language.set(key, value);
    });

    // The first English entry of a text names it, as a search in file order would.
    for (const auto& entry : tables.m_english.entries())
        tables.m_english_key.try_emplace(text::lower(entry.value), entry.name);

    for (int n = 0; n < language_string_count; ++n) {
        std::string key = entry_key(n + 1);
        if (const auto* own = tables.m_language.find(key))
            tables.m_strings[static_cast<std::size_t>(n)] = own->value;
        else if (const auto* english = tables.m_english.find(key))
            tables.m_strings[static_cast<std::size_t>(n)] = english->value;
    }
    return tables;
}

const std::string& LanguageTables::string(int number) const
{
    if (number < 0 || number >= language_string_count)
        return no_text;
    return m_strings[static_cast<std::size_t>(number)];
}

std::string LanguageTables::translate(std::string_view marker) const
{
    auto key = m_english_key.find(text::lower(marker));
    if (key != m_english_key.end()) {
        if (const auto* own = m_language.find(key->second))
            return own->value;
    }
    return std::string(marker);
}

// ---- the start-up check ------------------------------------------------------

void collect_markers(std::string_view line, std::vector<std::string>& markers)
{
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = line.find("[$", pos);
        if (open == std::string_view::npos)
            return;
        std::size_t close = line.find("$]", open + 2);
        if (close == std::string_view::npos)
            return;
        markers.emplace_back(line.substr(open + 2, close - open - 2));
        pos = close + 2;
    }
}

LanguageCheck check_languages(std::string_view file, const std::vector<std::string>& markers, bool english_translation)
{
    LanguageCheck check;
    std::vector<CheckSection> sections;
    for_each_language_line(file, [&](std::string_view line) {
        if (line.front() == '[') {
            sections.push_back(CheckSection{std::string(section_name(line, language_code_size)), {}, 0, false});
            return;
        }
        std::size_t equals = line.find('=');
        if (sections.empty() || equals == std::string_view::npos)
            return;
        CheckSection& section = sections.back();
        std::int64_t number = text::leading_number(line.substr(0, equals));
        if (number < 1 || number > max_entry_number)
            return;
        if (number <= section.highest)
            check.update = true;  // not in ascending order (or a repeat)
        else
            section.highest = number;
        if (section.entries.count(number))
            return;  // the first line of a number wins
        if (section.entries.size() >= max_section_entries) {
            section.overflow = true;
            return;
        }
        section.entries.emplace(number, std::string(line.substr(equals + 1)));
    });

    CheckSection* english = nullptr;
    for (auto& section : sections) {
        if (text::iequals(section.name, "en")) {
            english = &section;
            break;
        }
    }

    if (english) {
        std::unordered_set<std::string> known;
        for (const auto& [number, value] : english->entries)
            known.insert(text::lower(value));
        for (const auto& marker : markers) {
            if (!known.insert(text::lower(marker)).second)
                continue;
            std::int64_t number = std::max(english->highest + 1, first_marker_number);
            if (entry_key(number).size() + 1 + marker.size() > max_language_line) {
                // It could never be read back: it would be added again at
                // every start.
                check.problems.push_back("Text too long for Languages.ini: " + text::bounded(marker, 80));
                continue;
            }
            if (english->entries.size() >= max_section_entries || number > max_entry_number) {
                check.problems.push_back("No room in [en] of Languages.ini for: " + text::bounded(marker, 80));
                continue;
            }
            english->entries.emplace(number, marker);
            english->highest = number;
            check.update = true;
        }
    }

    if (english_translation)
        check.update = true;

    for (const auto& section : sections) {
        if (section.overflow) {
            check.problems.push_back(
                text::format("More than %zu entries in [%s] of Languages.ini; the rest are ignored",
                             max_section_entries, section.name.c_str()));
            check.may_rewrite = false;
        }
    }
    if (!english) {
        if (check.update)
            check.problems.push_back("Languages.ini has no [en] section; it is not rewritten");
        check.may_rewrite = false;
        return check;
    }

    for (const auto& section : sections) {
        check.new_file += '[';
        check.new_file += section.name;
        check.new_file += "]\r\n";
        for (const auto& [number, english_text] : english->entries) {
            auto own = section.entries.find(number);
            if (own != section.entries.end()) {
                check.new_file += entry_line(number, own->second);
                continue;
            }
            check.missing.push_back(text::format("\"%s=%s\" needs translation to %s", entry_key(number).c_str(),
                                                 english_text.c_str(), section.name.c_str()));
            if (english_translation)
                check.new_file += entry_line(number, english_text);
        }
        check.new_file += "\r\n";
    }
    return check;
}

bool verify_languages(const std::string& template_dir, bool english_translation, log::Logger& log)
{
    log.line(log::Level::routine, log::texts::verifying_languages);
    std::string path = fs::path_nocase(template_dir, languages_file);
    auto file = fs::read_file(path, max_languages_size);
    if (!file) {
        if (file.error().code != ENOENT)
            log.line(log::Level::error, "Could not read %s: %s", path.c_str(), file.error().text.c_str());
        return false;
    }

    std::vector<std::string> markers;
    for_each_template_file(template_dir, log, [&](const std::string&, std::string& text) {
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                end = text.size();
            std::string_view line(text.data() + pos, end - pos);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            collect_markers(line, markers);
            pos = end + 1;
        }
    });

    LanguageCheck check = check_languages(*file, markers, english_translation);
    for (const auto& problem : check.problems)
        log.message(log::Level::error, problem);

    bool rewrite = check.update && check.may_rewrite;
    if (rewrite) {
        // The previous file is kept as Languages.bak before the new one
        // replaces it in one step; without a backup nothing is replaced.
        std::string backup = fs::path_nocase(template_dir, "Languages.bak");
        auto saved = fs::write_file_atomic(backup, *file);
        if (!saved) {
            log.line(log::Level::error, "Could not write %s: %s", backup.c_str(), saved.error().text.c_str());
            rewrite = false;
        } else {
            log.line(log::Level::routine, log::texts::updating_languages);
        }
    }
    for (const auto& line : check.missing)
        log.message(log::Level::routine, line);
    if (rewrite) {
        auto written = fs::write_file_atomic(path, check.new_file);
        if (!written)
            log.line(log::Level::error, "Could not write %s: %s", path.c_str(), written.error().text.c_str());
        else
            log.line(log::Level::routine, log::texts::languages_updated);
    }
    return true;
}

// ---- the language choice list ------------------------------------------------

std::string read_languages_file(const std::string& template_dir)
{
    auto file = fs::read_file(fs::path_nocase(template_dir, languages_file), max_languages_size);
    return file ? std::move(*file) : std::string();
}

void write_language_options_of(std::string_view file, cgi::OutputStream& out)
{
    std::string code;
    bool in_section = false;
    for_each_language_line(file, [&](std::string_view line) {
        if (line.front() == '[') {
            code = cgi::html_escaped(section_name(line, option_code_size));
            in_section = true;
            return;
        }
        // An entry before any section belongs to no language.
        if (!in_section || line.substr(0, 4) != "001=")
            return;
        out.write("<OPTION VALUE=\"");
        out.write(code);
        out.write("\">");
        cgi::escape_html_formatted(line.substr(4), out);
        out.write("</OPTION>\r\n");
    });
}

void write_language_options(const std::string& template_dir, cgi::OutputStream& out)
{
    write_language_options_of(read_languages_file(template_dir), out);
}

}  // namespace corvane::templates
