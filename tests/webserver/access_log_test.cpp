#include "webserver/access_log.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using namespace corvane::webserver;
namespace fs = corvane::platform;

namespace {

class ScopedTz {
public:
    explicit ScopedTz(const char* tz)
    {
        const char* old = std::getenv("TZ");
        m_old = old ? old : "";
        m_had = old != nullptr;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTz()
    {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

}  // namespace

TEST(AccessLog, LinesInTheCommonFormat)
{
    // 2026-12-02 10:00:00 UTC
    constexpr std::time_t t = 1796205600;
    {
        ScopedTz tz("UTC");
        EXPECT_EQ(format_access_line("127.0.0.1", "jsmith", t, "GET / HTTP/1.0", 200, 1234),
                  "127.0.0.1 - jsmith [02/Dec/2026:10:00:00 +0000] \"GET / HTTP/1.0\" 200 1234\r\n");
        EXPECT_EQ(format_access_line("10.0.0.1", "", t, "", 400, 0),
                  "10.0.0.1 - - [02/Dec/2026:10:00:00 +0000] \"-\" 400 0\r\n");
    }
    {
        ScopedTz tz("Asia/Kolkata");
        EXPECT_NE(format_access_line("a", "", t, "x", 200, 0).find("[02/Dec/2026:15:30:00 +0530]"), std::string::npos);
    }
    {
        // Offsets under an hour keep their sign.
        ScopedTz tz("<-0030>0:30");
        EXPECT_NE(format_access_line("a", "", t, "x", 200, 0).find("[02/Dec/2026:09:30:00 -0030]"), std::string::npos);
    }
}

TEST(AccessLog, RequestTextCannotForgeLines)
{
    auto line = format_access_line("1.2.3.4", "evil\r\n5.6.7.8 - admin", 0, "GET /\x1b[2J HTTP/1.0", 200, 1);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
}

TEST(AccessLog, MovesAsideAtTheLimitReplacingTheOldFile)
{
    corvane::testing::TempDir tmp;
    std::string path = tmp / "http-admin.log";
    ASSERT_TRUE(fs::write_file_atomic(tmp / "http-admin.old", "older\n").ok());
    AccessLog log;
    ASSERT_TRUE(log.open(path));
    std::string line(100, 'x');
    line += "\n";
    for (int i = 0; i < 10; ++i)
        log.write(line);
    EXPECT_FALSE(log.rotate_if_larger(1));  // 1010 bytes < 1 KB
    log.write(line);
    EXPECT_FALSE(log.rotate_if_larger(0));  // 0: never
    EXPECT_FALSE(log.rotate_if_larger(2));
    EXPECT_TRUE(log.rotate_if_larger(1));
    EXPECT_EQ(fs::file_size(tmp / "http-admin.old"), 1111u);
    EXPECT_EQ(fs::file_size(path), 0u);
    log.write("next\n");
    EXPECT_EQ(fs::read_file(path).value(), "next\n");
    EXPECT_EQ(AccessLog::aside_path("/x/y.d/http"), "/x/y.d/http.old");

    // Not open: nothing is written and nothing moves.
    AccessLog closed;
    EXPECT_FALSE(closed.open(tmp / "no/such/dir/log"));
    closed.write("lost\n");
    EXPECT_FALSE(closed.rotate_if_larger(1));
}
