// The template store: every template of a language, prepared once and held
// in memory, and the lookup of a view's template.
//
// A template set holds one language's copy of every "*.html" file below the
// template directory, keyed by its path relative to that directory
// ("Logon.html", "jsFrames/List.html"; looked up without regard to case),
// with the language's strings and translations. Preparing a template
// replaces each translation marker "[$text$]" by the language's text and
// turns every tag "<$...$>" to upper case, so output only has to find tags.
// A set is loaded on the first request in its language, under the store's
// lock so it is loaded once, and is read-only afterwards; sets live until
// the store is destroyed and are never reloaded. Codes that name no section
// of Languages.ini share the English set rather than loading a copy each.
//
// Page lookup: the Logon and Logout views find their templates directly in
// the template directory, every other view in the theme's folder, and list
// rows ("data" templates) in the theme's Data folder.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/text/strings.h"
#include "engine/core/templates/languages.h"

namespace corvane::log {
class Logger;
}

namespace corvane::templates {

struct ExpandContext;

// The views whose numbers the lookup depends on.
constexpr int logon_view = 1;
constexpr int error_view = 17;
constexpr int new_user_view = 18;
constexpr int logout_view = 20;

// Names of redirect pages keep this much of the view name.
constexpr std::size_t max_redirect_name = 53;

// Replaces translation markers and upper-cases tags.
std::string prepare_template(std::string_view raw, const LanguageTables& tables);

class TemplateSet {
public:
    TemplateSet(std::string language, LanguageTables tables)
        : m_language(std::move(language)), m_tables(std::move(tables))
    {
    }

    const std::string& language() const { return m_language; }
    const LanguageTables& tables() const { return m_tables; }
    const std::string& string(int number) const { return m_tables.string(number); }
    // The prepared template of a key, or null.
    const std::string* find(std::string_view key) const;
    std::size_t size() const { return m_templates.size(); }

    void add(std::string key, std::string_view raw);

private:
    std::string m_language;
    LanguageTables m_tables;
    std::map<std::string, std::string, text::ILess> m_templates;
};

class TemplateStore {
public:
    explicit TemplateStore(std::string template_dir);
    TemplateStore(const TemplateStore&) = delete;
    TemplateStore& operator=(const TemplateStore&) = delete;

    const std::string& template_dir() const { return m_template_dir; }

    // The set of a language code (any case, up to 3 bytes), loaded on first
    // use; log receives the loading lines.
    const TemplateSet& set_for(std::string_view language, log::Logger& log);
    // Language string number (0..98) of a language.
    const std::string& language_string(int number, std::string_view language, log::Logger& log)
    {
        return set_for(language, log).string(number);
    }
    // Sets loaded so far (tests, monitoring).
    std::size_t loaded_sets() const;
    // The language choice list (write_language_options), made from
    // Languages.ini once, like the sets: the logon page shows it every time.
    const std::string& language_options() const;

private:
    std::unique_ptr<TemplateSet> load(const std::string& language, log::Logger& log) const;

    const std::string m_template_dir;
    mutable std::mutex m_mutex;
    bool m_sections_read = false;
    std::vector<std::string> m_sections;  // of Languages.ini, read with the first set
    std::vector<std::unique_ptr<TemplateSet>> m_sets;
    mutable std::once_flag m_options_once;
    mutable std::string m_language_options;
};

// What a page lookup needs to know about the request.
struct PageRequest {
    std::string_view language;
    std::string_view theme;  // the session user's, or the default theme
    int view = 0;
};

enum class TemplateKind { page, data };

// The key under which a view's template is stored.
std::string template_key(std::string_view name, TemplateKind kind, const PageRequest& request);

// The prepared template of a view, or null (logged as an error).
const std::string* find_template(TemplateStore& store, const PageRequest& request, std::string_view name,
                                 TemplateKind kind, log::Logger& log);

// The page sent while work goes on after the response: the no-cache header
// and the template name + "-Redirect" (name cut to 53 bytes), expanded.
// Callers that have no name pass the request's View field.
void write_redirect_page(TemplateStore& store, const PageRequest& request, std::string_view name,
                         const ExpandContext& context, log::Logger& log);

}  // namespace corvane::templates
