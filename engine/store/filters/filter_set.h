// Mail filters: the ordered rules of section [Filters] of a user's User.ini
// that choose the folder of each message arriving from a mailbox.
//
// A rule tests one header value (or the name of the mailbox the message came
// from) against a text, without regard to case, and names a destination
// folder; the first enabled rule that matches wins. This module only picks
// the name: the caller checks that the folder exists (a name outside the
// user's folder list means the Inbox) and moves the message.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::filters {

// Text and folder keep at most this many bytes.
constexpr std::size_t max_filter_field = 127;
// Keys Filter0 .. Filter99 are read, values up to 255 bytes.
constexpr int max_filter_keys = 100;
constexpr std::size_t max_filter_value = 255;

struct FilterRule {
    bool enabled = true;
    // C CC, F From, M the mailbox name, N Sender, S Subject, T To; any
    // other letter tests the empty string.
    char header = 'S';
    // C contains, E ends with, I is, N does not contain, S starts with; any
    // other letter never matches.
    char match = 'C';
    std::string text;
    std::string folder;

    bool operator==(const FilterRule&) const = default;
};

// Parses the INI form: enabled, header and match letters, then the text and
// the folder, each usually in double quotes. nullopt for a value that ends
// too early.
std::optional<FilterRule> parse_filter(std::string_view value);
// The INI form: "%c %c %c \"%s\" \"%s\"".
std::string format_filter(const FilterRule& rule);

// The value a rule tests, by header name ("From", "To", ...); an absent
// header gives the empty string.
using HeaderLookup = std::function<std::string_view(std::string_view name)>;

// Whether the rule matches; disabled rules never do.
bool matches(const FilterRule& rule, const HeaderLookup& header, std::string_view mailbox);

class FilterSet {
public:
    FilterSet() = default;
    explicit FilterSet(std::string user_ini) : m_user_ini(std::move(user_ini)) {}

    // Reads Filter0 .. Filter99 of [Filters] in user_ini (which the set then
    // keeps for save); empty and unparsable values are skipped.
    void load(const std::string& user_ini);
    // Replaces the whole [Filters] section by the rules, as Filter0, ...
    bool save() const;

    // Parses one rule and appends it.
    bool add(std::string_view value);
    void add(FilterRule rule) { m_rules.push_back(std::move(rule)); }

    // The folder of the first enabled rule that matches, else default_folder.
    std::string evaluate(const HeaderLookup& header, std::string_view mailbox, std::string_view default_folder) const;

    // Every rule whose folder is old_name gets new_name; true when any did.
    bool rename_folder(std::string_view old_name, std::string_view new_name);
    // Deletes every rule whose folder is name; true when any was deleted.
    bool remove_folder(std::string_view name);

    std::vector<FilterRule>& rules() { return m_rules; }
    const std::vector<FilterRule>& rules() const { return m_rules; }
    const std::string& user_ini() const { return m_user_ini; }

private:
    std::string m_user_ini;
    std::vector<FilterRule> m_rules;
};

}  // namespace corvane::filters
