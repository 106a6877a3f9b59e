#include "engine/core/templates/template_store.h"

#include "common/log/log_file.h"
#include "common/log/log_texts.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/expander.h"
#include "engine/core/templates/template_files.h"

namespace corvane::templates {

std::string prepare_template(std::string_view raw, const LanguageTables& tables)
{
    std::string text;
    text.reserve(raw.size());

    // Translation markers: "[$" up to the next "$]". A marker without an end
    // leaves the rest as it is.
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = raw.find("[$", pos);
        std::size_t close = open == std::string_view::npos ? open : raw.find("$]", open + 2);
        if (close == std::string_view::npos) {
            text.append(raw.substr(pos));
            break;
        }
        text.append(raw.substr(pos, open - pos));
        text.append(tables.translate(raw.substr(open + 2, close - open - 2)));
        pos = close + 2;
    }

    // Tags match in upper case at output time.
    pos = 0;
    for (;;) {
        std::size_t open = text.find("<$", pos);
        if (open == std::string::npos)
            break;
        std::size_t close = text.find("$>", open + 2);
        if (close == std::string::npos)
            break;
        for (std::size_t i = open + 2; i < close; ++i)
            text[i] = text::to_upper(text[i]);
        pos = close + 2;
    }
    return text;
}

// ---- TemplateSet -------------------------------------------------------------

const std::string* TemplateSet::find(std::string_view key) const
{
    auto it = m_templates.find(key);
    return it == m_templates.end() ? nullptr : &it->second;
}

void TemplateSet::add(std::string key, std::string_view raw)
{
    m_templates.insert_or_assign(std::move(key), prepare_template(raw, m_tables));
}

// ---- TemplateStore -----------------------------------------------------------

TemplateStore::TemplateStore(std::string template_dir) : m_template_dir(std::move(template_dir)) {}

std::unique_ptr<TemplateSet> TemplateStore::load(const std::string& language, log::Logger& log) const
{
    log.line(log::Level::routine, log::texts::loading_templates, language.c_str());
    auto set =
        std::make_unique<TemplateSet>(language, LanguageTables::parse(read_languages_file(m_template_dir), language));
    for_each_template_file(m_template_dir, log, [&](const std::string& key, std::string& raw) { set->add(key, raw); });
    return set;
}

const TemplateSet& TemplateStore::set_for(std::string_view language, log::Logger& log)
{
    std::string code(text::cut(language, language_code_size));
    std::lock_guard lock(m_mutex);
    if (!m_sections_read) {
        m_sections = language_sections(read_languages_file(m_template_dir));
        m_sections_read = true;
    }
    // A code without a section of its own would only load another copy of
    // the English texts; a stranger choosing codes must not fill memory so.
    bool known = false;
    for (const auto& section : m_sections) {
        if (text::iequals(section, code)) {
            known = true;
            break;
        }
    }
    if (!known)
        code = "en";
    for (const auto& set : m_sets) {
        if (text::iequals(set->language(), code))
            return *set;
    }
    m_sets.push_back(load(code, log));
    return *m_sets.back();
}

const std::string& TemplateStore::language_options() const
{
    std::call_once(m_options_once, [this] {
        cgi::StringOutputStream out;
        write_language_options(m_template_dir, out);
        m_language_options = out.take();
    });
    return m_language_options;
}

std::size_t TemplateStore::loaded_sets() const
{
    std::lock_guard lock(m_mutex);
    return m_sets.size();
}

// ---- lookup ------------------------------------------------------------------

std::string template_key(std::string_view name, TemplateKind kind, const PageRequest& request)
{
    std::string key;
    if (request.view != logon_view && request.view != logout_view) {
        key.append(request.theme);
        key.append(kind == TemplateKind::data ? "/Data/" : "/");
    }
    key.append(name);
    key.append(".html");
    return key;
}

const std::string* find_template(TemplateStore& store, const PageRequest& request, std::string_view name,
                                 TemplateKind kind, log::Logger& log)
{
    std::string key = template_key(name, kind, request);
    const std::string* text = store.set_for(request.language, log).find(key);
    if (!text) {
        std::string shown(name);
        log.line(log::Level::error, log::texts::no_template, shown.c_str(), key.c_str());
    }
    return text;
}

void write_redirect_page(TemplateStore& store, const PageRequest& request, std::string_view name,
                         const ExpandContext& context, log::Logger& log)
{
    context.out.write("Content-type: text/html\r\nExpires: 0\r\nPragma: no-cache\r\n\r\n");
    std::string page(text::cut(name, max_redirect_name));
    page += "-Redirect";
    if (const std::string* text = find_template(store, request, page, TemplateKind::page, log))
        expand(*text, context);
}

}  // namespace corvane::templates
