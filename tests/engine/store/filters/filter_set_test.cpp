#include "engine/store/filters/filter_set.h"

#include <gtest/gtest.h>

#include <map>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

namespace corvane::filters {
namespace {

TEST(FilterParse, Forms)
{
    struct Case {
        const char* value;
        std::optional<FilterRule> want;
    };
    const Case cases[] = {
        {"Y S C \"free money\" \"Junk\"", FilterRule{true, 'S', 'C', "free money", "Junk"}},
        {"  n  f  i  boss@x.com Work  ", FilterRule{false, 'F', 'I', "boss@x.com", "Work"}},
        {"YSC \"a\" \"My Folder\"", FilterRule{true, 'S', 'C', "a", "My Folder"}},
        // The text ends at the first quote followed by a blank.
        {"Y S C \"say \"hi\" now\" \"X\"", FilterRule{true, 'S', 'C', "say \"hi", "now\" \"X\""}},
        // The folder runs to the last quote of the value.
        {"Y T E \"@list.org\" \"Lists \"old\"\"", FilterRule{true, 'T', 'E', "@list.org", "Lists \"old\""}},
        {"Y S C \"\" \"All\"", FilterRule{true, 'S', 'C', "", "All"}},
        {"Y S C word", std::nullopt},  // no end to the text
        {"Y S C \"unterminated", std::nullopt},
        {"Y S", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
    };
    for (const Case& c : cases) {
        auto got = parse_filter(c.value);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << c.value;
        if (got) {
            EXPECT_EQ(*got, *c.want) << c.value << " gave text [" << got->text << "] folder [" << got->folder << "]";
        }
    }
    auto longest = parse_filter("Y S C \"" + std::string(300, 't') + "\" \"" + std::string(300, 'f') + "\"");
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->text.size(), 127u);
    EXPECT_EQ(longest->folder.size(), 127u);

    FilterRule rule{true, 'M', 'S', "work", "Work Mail"};
    EXPECT_EQ(format_filter(rule), "Y M S \"work\" \"Work Mail\"");
    EXPECT_EQ(parse_filter(format_filter(rule)), rule);
}

TEST(FilterEvaluate, MatchLettersAndOrder)
{
    std::map<std::string, std::string> header = {
        {"Subject", "Re: Quarterly REPORT"}, {"From", "Boss <boss@x.com>"}, {"To", "me@x.com"}, {"CC", ""}};
    HeaderLookup lookup = [&](std::string_view name) -> std::string_view {
        auto found = header.find(std::string(name));
        return found == header.end() ? std::string_view() : std::string_view(found->second);
    };
    auto result = [&](std::vector<std::string> rules) {
        FilterSet set;
        for (const auto& r : rules)
            EXPECT_TRUE(set.add(r)) << r;
        return set.evaluate(lookup, "Home", "Inbox");
    };
    EXPECT_EQ(result({"Y S C \"report\" \"Reports\""}), "Reports");
    EXPECT_EQ(result({"Y S S \"re:\" \"Replies\""}), "Replies");
    EXPECT_EQ(result({"Y S E \"Report\" \"R\""}), "R");
    EXPECT_EQ(result({"Y S I \"re: quarterly report\" \"R\""}), "R");
    EXPECT_EQ(result({"Y F N \"boss\" \"NotBoss\""}), "Inbox");
    EXPECT_EQ(result({"Y T N \"boss\" \"NotBoss\""}), "NotBoss");
    EXPECT_EQ(result({"Y M I \"home\" \"FromHome\""}), "FromHome");
    // A start longer than the value never matches; nor does an unknown
    // match letter; an unknown header letter tests the empty string.
    EXPECT_EQ(result({"Y S S \"Re: Quarterly REPORT and more\" \"X\""}), "Inbox");
    EXPECT_EQ(result({"Y S E \"more Re: Quarterly REPORT\" \"X\""}), "Inbox");
    EXPECT_EQ(result({"Y S Q \"report\" \"X\""}), "Inbox");
    EXPECT_EQ(result({"Y Z I \"\" \"Empty\""}), "Empty");
    EXPECT_EQ(result({"Y N C \"\" \"NoSender\""}), "NoSender");  // absent header: ""
    // Disabled rules are passed over; the first match wins.
    EXPECT_EQ(result({"N S C \"report\" \"Off\"", "Y F C \"boss\" \"Boss\"", "Y S C \"report\" \"Reports\""}), "Boss");
}

TEST(FilterSet, LoadSaveRenameRemove)
{
    testing::TempDir dir;
    std::string ini = dir / "User.ini";
    ASSERT_TRUE(platform::write_file_atomic(ini,
                                            "[User]\nFullName=Me\n"
                                            "[Filters]\n"
                                            "Filter0=Y S C \"a\" \"Work\"\n"
                                            "Filter2=Y S C \"b\" \"work\"\n"
                                            "Filter3=garbage\n"
                                            "Filter5=Y S C \"c\" \"Other\"\n"
                                            "Filter100=Y S C \"never\" \"Read\"\n"
                                            "[Stats]\nSent=3\n")
                    .ok());
    FilterSet set;
    set.load(ini);
    ASSERT_EQ(set.rules().size(), 3u);
    EXPECT_EQ(set.rules()[2].text, "c");

    EXPECT_TRUE(set.rename_folder("WORK", "Projects"));
    EXPECT_EQ(set.rules()[0].folder, "Projects");
    EXPECT_EQ(set.rules()[1].folder, "Projects");
    EXPECT_FALSE(set.rename_folder("Nope", "X"));
    EXPECT_TRUE(set.remove_folder("projects"));
    ASSERT_EQ(set.rules().size(), 1u);
    EXPECT_FALSE(set.remove_folder("projects"));
    ASSERT_TRUE(set.save());

    ini::clear_cache();
    ini::Profile profile(ini);
    EXPECT_EQ(profile.keys("Filters"), (std::vector<std::string>{"Filter0"}));
    EXPECT_EQ(profile.text("Filters", "Filter0", ""), "Y S C \"c\" \"Other\"");
    EXPECT_EQ(profile.text("User", "FullName", ""), "Me");
    EXPECT_EQ(profile.number("Stats", "Sent", 0), 3);

    FilterSet missing;
    missing.load(dir / "none.ini");
    EXPECT_TRUE(missing.rules().empty());
}

}  // namespace
}  // namespace corvane::filters
