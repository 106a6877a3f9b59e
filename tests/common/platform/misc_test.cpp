// Clock, time formatting, dynamic libraries and random numbers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "common/platform/clock.h"
#include "common/platform/dynamic_library.h"
#include "common/platform/random.h"
#include "common/platform/time_format.h"

namespace fs = corvane::platform;

TEST(Clock, ManualClockReplacesTheSystemClock)
{
    fs::ManualClock manual(1000);
    {
        fs::ScopedClock scoped(manual);
        EXPECT_EQ(fs::now(), 1000);
        manual.advance(20 * 60);
        EXPECT_EQ(fs::now(), 2200);
    }
    EXPECT_GT(fs::now(), 1700000000);
}

TEST(TimeFormat, UsesEnglishNamesWhateverTheLocale)
{
    // 2026-12-06 10:09:45 UTC, a Sunday.
    std::time_t t = 1796551785;
    EXPECT_EQ(fs::format_utc(t, "[%a %Y-%m-%d %H:%M:%S]"), "[Sun 2026-12-06 10:09:45]");
    EXPECT_EQ(fs::format_utc(t, "%a, %d-%b-%Y %H:%M:%S GMT"), "Sun, 06-Dec-2026 10:09:45 GMT");
    EXPECT_EQ(fs::format_utc(t, ""), "");
    // A configured format that expands without end is cut, not overflowed.
    std::string huge(4000, 'x');
    EXPECT_LE(fs::format_utc(t, (huge + "%Y").c_str()).size(), 1024u);
}

TEST(TimeFormat, MakeLocalTimeNormalises)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 32;  // 32 December
    std::time_t t = fs::make_local_time(tm);
    EXPECT_EQ(fs::format_local(t, "%Y-%m-%d"), "2027-01-01");
}

TEST(DynamicLibrary, LoadsAndFindsSymbols)
{
    auto missing = fs::DynamicLibrary::open("libcorvane-does-not-exist.so");
    EXPECT_FALSE(missing.ok());
    auto libm = fs::DynamicLibrary::open("libm.so.6");
    ASSERT_TRUE(libm.ok()) << libm.error().text;
    auto cosine = libm->function<double (*)(double)>("cos");
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(libm->symbol("no_such_symbol_here"), nullptr);
    EXPECT_NE(fs::program_path().find("platform_test"), std::string::npos);
}

TEST(Random, FillsAndStaysInRange)
{
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        std::uint32_t v = fs::random_below(26);
        ASSERT_LT(v, 26u);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 26u);
    unsigned char a[32] = {}, b[32] = {};
    fs::random_bytes(a, sizeof a);
    fs::random_bytes(b, sizeof b);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}
