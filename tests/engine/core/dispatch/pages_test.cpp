// The frame set and the message list page as a browser's HTML5 parser
// (Gumbo, not our code) reads them, in every shipped language: the
// language's own texts, no inline script, no outside resource, every link inside
// the session, a titled content frame showing the asked view.
#include <gtest/gtest.h>
#include <gumbo.h>

#include <map>

#include "tests/engine/core/dispatch/dispatch_fixture.h"

namespace corvane::dispatch::test {
namespace {

struct Facts {
    std::string html_lang;
    int inline_scripts = 0;
    std::vector<std::string> links;  // href and src values
    std::vector<std::map<std::string, std::string>> frames;
};

void collect(GumboNode* node, Facts& facts)
{
    if (node->type != GUMBO_NODE_ELEMENT)
        return;
    auto attribute = [node](const char* name) -> const char* {
        GumboAttribute* a = gumbo_get_attribute(&node->v.element.attributes, name);
        return a ? a->value : nullptr;
    };
    GumboTag tag = node->v.element.tag;
    if (tag == GUMBO_TAG_HTML && attribute("lang"))
        facts.html_lang = attribute("lang");
    // Scripts come from this server's files; a page never carries its own.
    if (tag == GUMBO_TAG_SCRIPT && (!attribute("src") || node->v.element.children.length > 0))
        ++facts.inline_scripts;
    for (const char* name : {"href", "src"}) {
        if (const char* value = attribute(name))
            facts.links.emplace_back(value);
    }
    if (tag == GUMBO_TAG_IFRAME) {
        std::map<std::string, std::string> frame;
        for (const char* name : {"src", "title", "name"})
            frame[name] = attribute(name) ? attribute(name) : "";
        facts.frames.push_back(frame);
    }
    GumboVector* children = &node->v.element.children;
    for (unsigned i = 0; i < children->length; ++i)
        collect(static_cast<GumboNode*>(children->data[i]), facts);
}

Facts facts_of(const std::string& html)
{
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    Facts facts;
    collect(output->root, facts);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return facts;
}

class Pages : public EngineFixture {};

TEST_F(Pages, FrameSetAndListInEveryLanguage)
{
    start();
    const std::map<std::string, std::string> sign_out = {
        {"en", "Sign out"}, {"de", "Abmelden"}, {"fr", "Se déconnecter"}};
    for (const auto& [lang, text] : sign_out) {
        SCOPED_TRACE(lang);
        add_user("user_" + lang, "secret", "Lang=" + lang + "\n");
        Logon session = logon("user_" + lang, "secret", "Folders");
        ASSERT_FALSE(session.id.empty());
        for (const std::string& html : {session.response.body, in_session(session, "View=List").body}) {
            EXPECT_EQ(html.find("<$"), std::string::npos);
            EXPECT_EQ(html.find("[$"), std::string::npos);
            EXPECT_NE(html.find("<meta charset=\"UTF-8\">"), std::string::npos);
            Facts facts = facts_of(html);
            EXPECT_EQ(facts.html_lang, lang);
            EXPECT_EQ(facts.inline_scripts, 0);
            for (const auto& link : facts.links) {
                bool local = link.rfind("/", 0) == 0 && link.rfind("//", 0) != 0;
                EXPECT_TRUE(local || link.rfind("#", 0) == 0) << link;
                // Links into the engine carry the session.
                if (link.rfind("/cgi-bin/", 0) == 0) {
                    EXPECT_EQ(link.rfind("/cgi-bin/Corvane.so?Session=" + session.id + "&View=", 0), 0u) << link;
                }
            }
        }
        Facts main = facts_of(session.response.body);
        ASSERT_EQ(main.frames.size(), 1u);
        EXPECT_EQ(main.frames[0]["src"], "/cgi-bin/Corvane.so?Session=" + session.id + "&View=Folders");
        EXPECT_FALSE(main.frames[0]["title"].empty());
        EXPECT_NE(session.response.body.find(text), std::string::npos);
    }
}

TEST_F(Pages, FrameViewFromTheRequestIsEscaped)
{
    start();
    add_user("alice", "secret");
    Logon session = logon("alice", "secret", "List%22%20onload%3D%22x");
    Facts main = facts_of(session.response.body);
    ASSERT_EQ(main.frames.size(), 1u);
    EXPECT_EQ(main.frames[0]["src"], "/cgi-bin/Corvane.so?Session=" + session.id + "&View=List%22+onload%3D%22x");
    EXPECT_EQ(main.frames[0].count("onload"), 0u);
    EXPECT_EQ(session.response.body.find("onload=\""), std::string::npos);
}

}  // namespace
}  // namespace corvane::dispatch::test
