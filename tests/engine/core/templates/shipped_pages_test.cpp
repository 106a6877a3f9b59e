// The templates and Languages.ini that ship with Corvane, checked as an
// installation would use them: complete in every language, stable under
// the start-up check, and rendering to pages an HTML5 parser (Gumbo, not
// our code) reads as accessible forms without scripts or outside resources.
#include <gtest/gtest.h>
#include <gumbo.h>

#include <map>
#include <set>

#include "common/ini/profile.h"
#include "common/text/strings.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/expander.h"
#include "engine/core/templates/languages.h"
#include "engine/core/templates/template_store.h"
#include "engine/core/templates/top_level_tags.h"
#include "tests/engine/core/templates/test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane::templates {
namespace {

const std::vector<std::string> languages = {"en", "de", "fr"};

// Every language string number the engine uses.
std::vector<int> used_strings()
{
    std::vector<int> numbers;
    for (auto [from, to] :
         std::vector<std::pair<int, int>>{{0, 18}, {20, 23}, {27, 29}, {31, 36}, {38, 55}, {58, 63}, {65, 73}}) {
        for (int n = from; n <= to; ++n)
            numbers.push_back(n);
    }
    return numbers;
}

std::string conversions(const std::string& format)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] == '%') {
            out += format.substr(i, 2);
            ++i;
        }
    }
    return out;
}

TEST(ShippedLanguages, CompleteInEveryLanguage)
{
    std::string file = test::read(test::shipped_templates() + "/Languages.ini");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(language_sections(file), languages);

    const std::map<int, std::string> formats = {{20, "%s"},     {21, "%d%d%s"}, {22, "%d%d%s"}, {23, "%d%d"},
                                                {27, "%d%d%s"}, {52, "%s"},     {53, "%s"},     {54, "%s"}};
    const std::map<std::string, std::string> names = {{"en", "English"}, {"de", "Deutsch"}, {"fr", "Français"}};
    for (const auto& lang : languages) {
        LanguageTables tables = LanguageTables::parse(file, lang);
        for (int n : used_strings()) {
            std::string key = text::format("%03d", n + 1);
            const auto* own = tables.language().find(key);
            ASSERT_NE(own, nullptr) << lang << " lacks entry " << key;
            EXPECT_FALSE(own->value.empty()) << lang << " " << key;
            auto format = formats.find(n);
            std::string want = format == formats.end() ? "" : format->second;
            EXPECT_EQ(conversions(own->value), want) << lang << " string " << n << ": " << own->value;
        }
        EXPECT_EQ(tables.string(0), names.at(lang));
        EXPECT_EQ(tables.string(63), "UTF-8");
    }
}

TEST(ShippedLanguages, StableUnderTheStartUpCheck)
{
    testing::TempDir dir;
    std::string copy = "cp -r '" + test::shipped_templates() + "/.' '" + dir.path() + "'";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    std::string before = test::read(dir / "Languages.ini");

    test::CaptureLog log;
    ASSERT_TRUE(verify_languages(dir.path(), false, log));
    EXPECT_FALSE(log.has("Updating Languages.ini")) << "a marked text is missing from [en]";
    EXPECT_FALSE(log.has("needs translation"));
    EXPECT_FALSE(log.has("Could not"));
    EXPECT_EQ(test::read(dir / "Languages.ini"), before);
}

// ---- rendering -----------------------------------------------------------------

class PageRequestInfo final : public RequestInfo {
public:
    cgi::FieldTable table{cgi::Environment({"SCRIPT_NAME=/Corvane", "HTTP_COOKIE=User=ann"})};
    std::string lang;
    int view_number = logon_view;
    std::string status = "Status <text>";
    std::string error;

    const cgi::FieldTable& fields() const override { return table; }
    std::string_view language() const override { return lang; }
    int view() const override { return view_number; }
    std::string_view user_name() const override { return {}; }
    std::string take_status_message() override { return std::exchange(status, std::string()); }
    std::string take_error_message() override { return std::exchange(error, std::string()); }
};

struct Page {
    const char* name;
    int view;
};
const Page pages[] = {
    {"Logon", logon_view}, {"Logout", logout_view}, {"NewUser", new_user_view}, {"Error", error_view}};

std::string render(TemplateStore& store, const ini::Profile& global, const Page& page, const std::string& lang)
{
    test::CaptureLog log;
    PageRequestInfo request;
    request.lang = lang;
    request.view_number = page.view;
    const std::string* text =
        find_template(store, PageRequest{lang, "jsFrames", page.view}, page.name, TemplateKind::page, log);
    if (!text)
        return {};
    TopLevelTags tags(store, request, log);
    cgi::StringOutputStream out;
    expand(*text, ExpandContext{out, tags, &global, nullptr});
    return out.take();
}

const char* attribute(GumboNode* node, const char* name)
{
    GumboAttribute* a = gumbo_get_attribute(&node->v.element.attributes, name);
    return a ? a->value : nullptr;
}

struct PageFacts {
    std::string html_lang;
    std::set<std::string> label_targets;
    std::vector<std::string> control_ids;  // visible inputs and selects
    std::set<std::string> field_names;
    std::vector<std::string> form_actions;
    std::vector<std::string> resources;  // href and src values
    int scripts = 0;
    int controls_without_id = 0;
};

void collect(GumboNode* node, PageFacts& facts)
{
    if (node->type != GUMBO_NODE_ELEMENT)
        return;
    GumboTag tag = node->v.element.tag;
    if (tag == GUMBO_TAG_HTML && attribute(node, "lang"))
        facts.html_lang = attribute(node, "lang");
    if (tag == GUMBO_TAG_SCRIPT)
        ++facts.scripts;
    if (tag == GUMBO_TAG_LABEL && attribute(node, "for"))
        facts.label_targets.insert(attribute(node, "for"));
    if (tag == GUMBO_TAG_FORM)
        facts.form_actions.emplace_back(attribute(node, "action") ? attribute(node, "action") : "");
    for (const char* link : {"href", "src"}) {
        if (const char* value = attribute(node, link))
            facts.resources.emplace_back(value);
    }
    if (tag == GUMBO_TAG_INPUT || tag == GUMBO_TAG_SELECT || tag == GUMBO_TAG_BUTTON) {
        if (const char* name = attribute(node, "name"))
            facts.field_names.insert(name);
        const char* type = attribute(node, "type");
        bool hidden = type && std::string(type) == "hidden";
        if (tag != GUMBO_TAG_BUTTON && !hidden) {
            if (const char* id = attribute(node, "id"))
                facts.control_ids.emplace_back(id);
            else
                ++facts.controls_without_id;
        }
    }
    GumboVector* children = &node->v.element.children;
    for (unsigned i = 0; i < children->length; ++i)
        collect(static_cast<GumboNode*>(children->data[i]), facts);
}

PageFacts facts_of(const std::string& html)
{
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    PageFacts facts;
    collect(output->root, facts);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return facts;
}

TEST(ShippedPages, RenderAccessiblyInEveryLanguage)
{
    testing::TempDir dir;
    test::write(dir / "Corvane.ini", "[AccountCreation]\nEnable=Yes\n");
    ini::Profile global(dir / "Corvane.ini");
    TemplateStore store(test::shipped_templates());

    const std::set<std::string> known_fields = {"User",     "Password", "Lang",        "View", "NewAccount",
                                                "FullName", "Pass",     "ConfirmPass", "Save", "Cancel"};
    for (const auto& lang : languages) {
        for (const auto& page : pages) {
            SCOPED_TRACE(std::string(page.name) + " in " + lang);
            std::string html = render(store, global, page, lang);
            ASSERT_FALSE(html.empty());
            EXPECT_EQ(html.find("<$"), std::string::npos);
            EXPECT_EQ(html.find("[$"), std::string::npos);
            EXPECT_NE(html.find("<meta charset=\"UTF-8\">"), std::string::npos);
            EXPECT_NE(html.find("Status &lt;text&gt;"), std::string::npos);

            PageFacts facts = facts_of(html);
            EXPECT_EQ(facts.html_lang, lang);
            EXPECT_EQ(facts.scripts, 0);
            EXPECT_EQ(facts.controls_without_id, 0);
            for (const auto& id : facts.control_ids)
                EXPECT_TRUE(facts.label_targets.count(id)) << "no label for " << id;
            for (const auto& name : facts.field_names)
                EXPECT_TRUE(known_fields.count(name)) << "unexpected field " << name;
            for (const auto& resource : facts.resources) {
                // Only this server's own files and in-page anchors.
                EXPECT_TRUE(resource.rfind("/", 0) == 0 || resource.rfind("#", 0) == 0) << resource;
                EXPECT_NE(resource.rfind("//", 0), 0u) << resource;
            }
            for (const auto& action : facts.form_actions)
                EXPECT_EQ(action, page.view == new_user_view ? "/Corvane?View=NewUser" : "/Corvane?View=Main");
        }
    }

    // The pages speak the language they are rendered in.
    EXPECT_NE(render(store, global, pages[0], "de").find("Anmelden"), std::string::npos);
    EXPECT_NE(render(store, global, pages[0], "fr").find("Se connecter"), std::string::npos);
    std::string logon = render(store, global, pages[0], "en");
    EXPECT_NE(logon.find("value=\"ann\""), std::string::npos);
    EXPECT_NE(logon.find("<OPTION VALUE=\"fr\">Français</OPTION>"), std::string::npos);
    EXPECT_NE(logon.find("name=\"NewAccount\""), std::string::npos);

    // Without account creation the page does not offer it.
    test::write(dir / "Corvane.ini", "[AccountCreation]\nEnable=No\n");
    logon = render(store, global, pages[0], "en");
    EXPECT_EQ(logon.find("NewAccount"), std::string::npos);
    EXPECT_NE(logon.find("name=\"Password\""), std::string::npos);
}

TEST(ShippedPages, StyleSheetIsSelfContained)
{
    std::string css = test::read(std::string(CORVANE_SOURCE_DIR) + "/html/css/corvane.css");
    ASSERT_FALSE(css.empty());
    EXPECT_EQ(css.find("@import"), std::string::npos);
    EXPECT_EQ(css.find("url("), std::string::npos);
    EXPECT_EQ(css.find("http"), std::string::npos);
}

}  // namespace
}  // namespace corvane::templates
