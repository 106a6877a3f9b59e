#include "engine/store/mime/date_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

using namespace corvane::mime;

TEST(DateParser, EquivalentFormsAndZones)
{
    const std::int64_t want = 929460030;  // 1999-06-15 15:20:30 UTC
    EXPECT_EQ(parse_date("Tue, 15 Jun 1999 10:20:30 -0500"), want);
    EXPECT_EQ(parse_date("15 Jun 99 10:20:30 EST"), want);
    EXPECT_EQ(parse_date("15 JUNE 1999 16:20:30 +0100 (CET)"), want);
    EXPECT_EQ(parse_date("15-Jun-1999 15:20:30 GMT"), want);
    EXPECT_EQ(parse_date("  15 jun 1999 08:20:30 pdt"), want);
    EXPECT_EQ(parse_date("15 Jun 1999 15:20:30"), want) << "no zone is UTC";
    EXPECT_EQ(parse_date("15 Jun 1999 15:20 +0000") + 30, want) << "seconds are optional";
    EXPECT_EQ(parse_date("15 Jun 1999 -0500"), want - 15 * 3600 - 20 * 60 - 30 + 5 * 3600)
        << "a numeric zone without a time is a zone, not an hour";
    EXPECT_EQ(parse_date("Tue, 15 Jun 1999 10:20:30 -0500 (EST)"), want);
    // The tail of a Received header.
    EXPECT_EQ(parse_date(" Tue, 15 Jun 1999 10:20:30 -0500"), want);
}

TEST(DateParser, YearsAndCalendar)
{
    EXPECT_EQ(parse_date("1 Jan 1970 00:00:01 +0000"), 1);
    EXPECT_EQ(parse_date("1 Mar 05 00:00:00 +0000"), parse_date("1 Mar 2005 00:00:00 +0000"));
    EXPECT_EQ(parse_date("1 Mar 99 00:00:00 +0000"), parse_date("1 Mar 1999 00:00:00 +0000"));
    EXPECT_EQ(parse_date("1 Mar 105 00:00:00 +0000"), parse_date("1 Mar 2005 00:00:00 +0000"));
    EXPECT_EQ(parse_date("29 Feb 2000 12:00:00 +0000"), 951825600);
    EXPECT_EQ(parse_date("31 Jun 2000 00:00:00 +0000"), parse_date("1 Jul 2000 00:00:00 +0000"));
    EXPECT_EQ(parse_date("31 Dec 2038 23:59:59 +0000"), 2177452799);
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
}

TEST(DateParser, UnusableDatesGiveZero)
{
    for (const char* text :
         {"15 Foo 1999 10:20:30 -0500", "", "no digits at all", "0 Jun 1999", "32 Jun 1999", "15 Jun",
          "15 Jun 2039 00:00:00", "15 Jun 1899 00:00:00", "15 Jun 1960 00:00:00", "1 Jan 1970 00:30:00 +0100",
          "15 Jun 1999 24:00:00", "15 Jun 1999 10:60:00", "99999999999999999999999 Jun 1999",
          "15 Jun 99999999999999999999999", "1 Jan 1970 00:00:00 +0000"}) {
        EXPECT_EQ(parse_date(text), 0) << text;
    }
    EXPECT_EQ(parse_date(std::string(10u << 20, '7')), 0) << "10 MB of digits";
    EXPECT_EQ(parse_date("15 Jun 1999 10:20:30 " + std::string(10u << 20, ' ') + "-0500"), 929460030);
    EXPECT_EQ(parse_date("15 Jun 1999 10:20:30 +9999"), parse_date("15 Jun 1999 10:20:30 +0000"))
        << "an impossible zone counts as UTC";
}

TEST(DateParser, IndependentOfTheProcessTimeZone)
{
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    const char* text = "Sun, 15 Jul 2001 12:00:00 +0200";  // summer time in most zones
    setenv("TZ", "UTC", 1);
    tzset();
    std::int64_t utc = parse_date(text);
    for (const char* tz : {"America/New_York", "Europe/Berlin", "Australia/Sydney", "EST5EDT"}) {
        setenv("TZ", tz, 1);
        tzset();
        EXPECT_EQ(parse_date(text), utc) << tz;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_EQ(utc, 995191200);
}
