#include "common/text/dates.h"

#include <gtest/gtest.h>

using namespace corvane::text;

TEST(Dates, MonthAndZoneWordsAsMailAndHttpWriteThem)
{
    const std::pair<const char*, int> months[] = {{"Jan", 1}, {"january", 1}, {"DEC", 12}, {"Sept", 9}, {"Ja", 0},
                                                  {"", 0},    {"Foo", 0},     {"1Jan", 0}, {"MAY,", 5}};
    for (const auto& [word, want] : months)
        EXPECT_EQ(month_number(word), want) << word;

    const std::pair<const char*, int> zones[] = {
        {"+0100", 100},
        {"-0530", -530},
        {"+2359", 2359},
        {"0000", 0},
        {"+2400", 0},
        {"+0160", 0},
        {"+99999999999999", 0},
        {"EST", -500},
        {"pdt", -700},
        {"GMT", 0},
        {"UT", 0},
        {"Z", 0},
        {"", 0},
        {"+", 0},
        {"-x", 0},
    };
    for (const auto& [word, want] : zones)
        EXPECT_EQ(zone_offset(word), want) << word;
}
